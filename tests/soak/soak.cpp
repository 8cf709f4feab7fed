// The soak: one process calls every export of the module, over and over, on
// varied input, or loads and unloads the module over and over, and watches
// its own handle count and memory.
//   soak [ITERATIONS]          one load, every export called ITERATIONS times
//   soak --reload [CYCLES]     CYCLES loads, each calling every export once
// Runs in the help tests' folder, whose stand-in viewer it puts in the
// Windows directory, where the module takes the viewer from, for the run.
// Prints its figures; exits 1 when handles or memory grew, or when a viewer
// was left running.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "escape/text.h"
#include "plugin/functions.h"
#include "plugin/host.h"
#include "plugin/protocol.h"
#include "shell/host_api.h"
#include "tests/help/viewer_process.h"
#include "ivro_platform.h"

namespace {

HMODULE g_module;

template <class Proc>
Proc Find(const char* name)
{
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(g_module, name)));
}

// Calls a buffer export with `argument` in a fresh shell-sized buffer.
std::wstring Call(BufferProc proc, const std::wstring& argument)
{
    static std::vector<wchar_t> buffer(MAX_ARG_LEN);
    std::fill(buffer.begin(), buffer.end(), 0);
    argument.copy(buffer.data(), std::min<size_t>(argument.size(), MAX_TEXT_LEN));
    proc(buffer.data());
    return buffer.data();
}

struct Figures {
    DWORD handles;       // the next free slot of the handle table
    SIZE_T privateBytes; // committed private memory
};

// Handles are counted by the slot a new one gets: the table hands out the
// lowest free slot, so every handle kept open pushes it up. (Wine counts no
// handles for GetProcessHandleCount.) Memory is the private commit charge,
// which wine reports as the page-file usage.
Figures Measure()
{
    Figures f{};
    HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    f.handles = DWORD(reinterpret_cast<uintptr_t>(probe) / 4);
    CloseHandle(probe);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    f.privateBytes = memory.PrivateUsage > memory.PagefileUsage ? memory.PrivateUsage : memory.PagefileUsage;
    return f;
}

// Text of length `n` built from a pool chosen by `i`.
std::wstring Text(unsigned i, size_t n)
{
    static const wchar_t* const pools[] = {L"abc xyz", L"\\t\\x41\\u20ac\\U1F600\\q\\c", L"\"%&<>[]^`|,;",
                                           L"\x01\x1b\x7f\x85\xa0\u00e9\u20ac", L"\xD83D\xDE00\xD800z"};
    const std::wstring pool = pools[i % 5];
    std::wstring text;
    for (size_t k = 0; text.size() < n; ++k)
        text += pool[(k * 7 + i) % pool.size()];
    return text.substr(0, n);
}

// The module's exports, found again after every load: those of the
// protocol, and each function of the table by its export's name.
struct Exports {
    GetPluginInfoProc info;
    HelpProc help;
    UsageProc usage;
    std::map<std::string, BufferProc> functions;
    std::set<std::string> called;

    void Find()
    {
        g_module = GetModuleHandleW(L"" IVRO_FILE_NAME);
        info = ::Find<GetPluginInfoProc>("GetPluginInfo");
        help = ::Find<HelpProc>("Help");
        usage = ::Find<UsageProc>("Usage");
#define IVRO_SOAKED_FUNCTION(name, export, ...) functions[#export] = ::Find<BufferProc>(#export);
        IVRO_FUNCTIONS(IVRO_SOAKED_FUNCTION)
#undef IVRO_SOAKED_FUNCTION
    }

    // The function `name` exports, noted as called.
    BufferProc operator[](const char* name)
    {
        called.insert(name);
        return functions.at(name);
    }

    // A function of the table that a round does not call, or "".
    std::string Uncalled() const
    {
        for (const auto& function : functions)
            if (called.count(function.first) == 0)
                return function.first;
        return "";
    }
};

// The files and handles of a run, in a folder of their own.
struct Workspace {
    std::wstring dir, lines, written, viewerLog;
    HANDLE file = INVALID_HANDLE_VALUE; // @expwrite writes here
    std::wstring fileHandle, readHandle;

    Workspace()
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        // One folder a process: the call soak and the reload soak may run
        // side by side.
        dir = std::wstring(temp) + L"ivro-soak-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(dir.c_str(), nullptr);
        lines = dir + L"\\lines.txt";
        written = dir + L"\\written.txt";
        viewerLog = dir + L"\\viewer.log";
        HANDLE f = CreateFileW(lines.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n = 0;
        const char text[] = "one\ttwo\r\n\"three\"\r\nfour 100%\r\n";
        WriteFile(f, text, sizeof text - 1, &n, nullptr);
        CloseHandle(f);
        HANDLE help = CreateFileW((dir + L"\\Ivro.chm").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        CloseHandle(help);
        DeleteFileW(viewerLog.c_str());
        SetEnvironmentVariableW(L"IvroHelp", dir.c_str());
        SetEnvironmentVariableW(L"IVRO_VIEWER_LOG", viewerLog.c_str());
        SetEnvironmentVariableW(L"IVRO_SOAK", L"tab\there \"quoted\"");
        file = CreateFileW(written.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                           nullptr);
        fileHandle = std::to_wstring(reinterpret_cast<uintptr_t>(file));
    }

    // The shell's own file handles, which outlive the module.
    void OpenForReading()
    {
        wchar_t expression[MAX_ARG_LEN];
        swprintf(expression, MAX_ARG_LEN, L"%%@fileopen[%ls,read]", lines.c_str());
        ExpandVariables(expression, 1);
        readHandle = expression;
    }
    void CloseReading()
    {
        wchar_t expression[MAX_ARG_LEN];
        swprintf(expression, MAX_ARG_LEN, L"%%@fileclose[%ls]", readHandle.c_str());
        ExpandVariables(expression, 1);
    }

    // The viewers' log: one line for each viewer started.
    std::wstring ViewerLog() const
    {
        HANDLE log = CreateFileW(viewerLog.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        std::wstring entries;
        if (log != INVALID_HANDLE_VALUE) {
            wchar_t chunk[4096];
            DWORD got = 0;
            while (ReadFile(log, chunk, sizeof chunk, &got, nullptr) && got > 0)
                entries.append(chunk, got / sizeof(wchar_t));
            CloseHandle(log);
        }
        return entries;
    }

    // Waits up to 20 s for the viewer of the last help request to have
    // started: one ended before it got going would not be counted.
    void WaitForViewer()
    {
        ++helpRequests;
        for (int wait = 0; wait < 400; ++wait) {
            const std::wstring entries = ViewerLog();
            if (size_t(std::count(entries.begin(), entries.end(), L'\n')) >= helpRequests)
                return;
            Sleep(50);
        }
    }
    size_t helpRequests = 0;

    // How many viewers were started, and how many of them still run.
    void CountViewers(int* viewers, int* running) const
    {
        *viewers = *running = 0;
        const std::wstring entries = ViewerLog();
        for (size_t at = 0, nl; (nl = entries.find(L'\n', at)) != std::wstring::npos; at = nl + 1) {
            ++*viewers;
            DWORD pid = DWORD(wcstoul(entries.c_str() + at, nullptr, 10));
            for (int wait = 0; wait < 250 && Alive(pid); ++wait) // up to 5 s on a busy machine
                Sleep(20);
            *running += Alive(pid);
        }
    }

    ~Workspace()
    {
        CloseHandle(file);
        DeleteFileW(lines.c_str());
        DeleteFileW(written.c_str());
        DeleteFileW(viewerLog.c_str());
        DeleteFileW((dir + L"\\Ivro.chm").c_str());
        RemoveDirectoryW(dir.c_str());
    }
};

// One round: every export but the protocol's start and end, on text chosen
// by `i`, and a real help request when `help` is set. Returns the calls made.
unsigned CallEveryExport(Exports& x, Workspace& w, unsigned i, bool realHelp)
{
    const size_t n = (i * 37) % 600;
    const std::wstring text = Text(i, n);
    x.info();
    Call(x["f_exp"], text);
    Call(x["f_escapify"], text);
    Call(x["f_escenv"], i % 3 ? L"IVRO_SOAK" : L"%IVRO_NOT_SET");
    Call(x["f_escline"], w.lines + L"," + std::to_wstring(i % 4));
    if (Call(x["f_escread"], w.readHandle) == L"**EOF**") {
        w.CloseReading();
        w.OpenForReading();
    }
    Call(x["f_expcmp"], text + L"," + Text(i + 1, n) + L"," + std::to_wstring(i % 2));
    Call(x["f_expreplace"], L"a,\\t," + std::to_wstring(i % 8) + L"," + text);
    Call(x["f_expfind"], text + L",a," + std::to_wstring(int(i % 5) - 2) + L"," + std::to_wstring(i % 16) + L"," +
                        std::to_wstring(i % 7) + L"+1");
    Call(x["f_expwrite"], w.fileHandle + L"," + text.substr(0, 80));
    Call(x["_ivrover"], L"");
    Call(x["expecho"], L" " + text);
    wchar_t name[] = L"expecho";
    wchar_t out[1024];
    x.usage(name, out);
    wchar_t noName[] = L"@nosuch";
    x.help(noName);
    // Each function, and GetPluginInfo, Usage and Help.
    const unsigned calls = unsigned(x.functions.size()) + 3;
    if (!realHelp)
        return calls;
    // The stand-in viewer starts; the next request or the unloading ends it.
    wchar_t topic[] = L"@exp";
    x.help(topic);
    w.WaitForViewer();
    // The written file grows; start it again now and then.
    SetFilePointer(w.file, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(w.file);
    return calls + 1;
}

void Report(HANDLE report, const char* line)
{
    DWORD done = 0;
    WriteFile(report, line, DWORD(strlen(line)), &done, nullptr);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool reload = argc > 1 && wcscmp(argv[1], L"--reload") == 0;
    const wchar_t* count = argc > (reload ? 2 : 1) ? argv[reload ? 2 : 1] : nullptr;
    const unsigned iterations = count ? unsigned(_wtoi(count)) : reload ? 2000 : 100000;
    // Measured after every kind of call, a help request included, has run
    // (in a reload run, after the first ten cycles).
    const unsigned settled = reload ? 10 : 1000;
    StandInViewer viewer;
    Workspace w;

    // Whatever the module prints goes nowhere; the figures go to this
    // program's own standard output, kept aside.
    HANDLE report = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE null = CreateFileW(L"nul", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    SetStdHandle(STD_OUTPUT_HANDLE, null);
    SetStdHandle(STD_ERROR_HANDLE, null);

    Exports x{};
    if (!reload) {
        if (HostLoadModule(L"" IVRO_FILE_NAME) != 0)
            return 2;
        x.Find();
    }
    w.OpenForReading();

    Figures start{};
    DWORD begun = GetTickCount();
    unsigned long calls = 0;
    for (unsigned i = 0; i < iterations; ++i) {
        if (i == settled)
            start = Measure();
        if (reload) {
            // HostLoadModule calls GetPluginInfo and InitializePlugin,
            // HostUnloadModule ShutdownPlugin: every export once a cycle,
            // and a real help request every hundredth.
            if (HostLoadModule(L"" IVRO_FILE_NAME) != 0)
                return 2;
            x.Find();
            calls += 2 + CallEveryExport(x, w, i, i % 100 == 99);
            HostUnloadModule();
            ++calls;
        } else {
            calls += CallEveryExport(x, w, i, i % 1000 == 999);
        }
    }
    const Figures end = Measure();
    const DWORD elapsed = GetTickCount() - begun;
    w.CloseReading();
    if (!reload)
        HostUnloadModule();

    // Every viewer the run caused must have been ended.
    int viewers = 0, running = 0;
    w.CountViewers(&viewers, &running);

    const long handleGrowth = long(end.handles) - long(start.handles);
    const long long memoryGrowth = (long long)end.privateBytes - (long long)start.privateBytes;
    char line[512];
    snprintf(line, sizeof line, "soak: %u %s, %lu calls in %lu ms (%.1f us a call)\r\n", iterations,
             reload ? "loads" : "iterations", calls, elapsed, calls ? 1000.0 * elapsed / double(calls) : 0.0);
    Report(report, line);
    snprintf(line, sizeof line,
             "soak: next free handle slot %lu -> %lu (%+ld), private memory %lu KB -> %lu KB (%+lld KB)\r\n",
             start.handles, end.handles, handleGrowth, (unsigned long)(start.privateBytes / 1024),
             (unsigned long)(end.privateBytes / 1024), memoryGrowth / 1024);
    Report(report, line);
    snprintf(line, sizeof line, "soak: %d help viewers started, %d still running\r\n", viewers, running);
    Report(report, line);
    // Flat means: no handle kept, and less memory gained than one leaking
    // load in twenty would add (a load that kept its threads runtime cost
    // 19 KB and 8 handles); a long call soak may gain up to a megabyte of
    // heap that the runtime keeps for reuse.
    const long long memoryBound = reload ? 256 * 1024 : 1024 * 1024;
    const bool flat = handleGrowth <= (reload ? 0 : 2) && memoryGrowth < memoryBound && running == 0;
    if (!flat) {
        snprintf(line, sizeof line, "soak: FAILED: allowed are %+d handles and less than %lld KB\r\n",
                 reload ? 0 : 2, memoryBound / 1024);
        Report(report, line);
    }
    // A function of the table that no round calls is left out of the soak.
    const std::string uncalled = x.Uncalled();
    if (!uncalled.empty()) {
        snprintf(line, sizeof line, "soak: FAILED: no round calls %s\r\n", uncalled.c_str());
        Report(report, line);
    }
    return flat && uncalled.empty() ? 0 : 1;
}
