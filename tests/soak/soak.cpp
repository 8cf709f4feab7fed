// The soak: one process calls every export of the module, over and over, on
// varied input, and watches its own handle count and memory.
//   soak ITERATIONS
// Runs in the help tests' folder, where a stand-in viewer answers the help
// requests. Prints its figures; exits 1 when handles or memory grew, or when
// a viewer was left running.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "escape/text.h"
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

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const unsigned iterations = argc > 1 ? unsigned(_wtoi(argv[1])) : 100000;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring dir = std::wstring(temp) + L"ivro-soak";
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring lines = dir + L"\\lines.txt";
    const std::wstring written = dir + L"\\written.txt";
    const std::wstring viewerLog = dir + L"\\viewer.log";
    {
        HANDLE f = CreateFileW(lines.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n = 0;
        const char text[] = "one\ttwo\r\n\"three\"\r\nfour 100%\r\n";
        WriteFile(f, text, sizeof text - 1, &n, nullptr);
        CloseHandle(f);
        HANDLE help = CreateFileW((dir + L"\\Ivro.chm").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        CloseHandle(help);
        DeleteFileW(viewerLog.c_str());
    }
    SetEnvironmentVariableW(L"IvroHelp", dir.c_str());
    SetEnvironmentVariableW(L"IVRO_VIEWER_LOG", viewerLog.c_str());
    SetEnvironmentVariableW(L"IVRO_SOAK", L"tab\there \"quoted\"");

    // Whatever the module prints goes nowhere; the figures go to this
    // program's own standard output, kept aside.
    HANDLE report = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE null = CreateFileW(L"nul", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    SetStdHandle(STD_OUTPUT_HANDLE, null);
    SetStdHandle(STD_ERROR_HANDLE, null);

    if (HostLoadModule(L"" IVRO_FILE_NAME) != 0)
        return 2;
    g_module = GetModuleHandleW(L"" IVRO_FILE_NAME);
    auto info = Find<GetPluginInfoProc>("GetPluginInfo");
    auto help = Find<HelpProc>("Help");
    auto usage = Find<UsageProc>("Usage");
    BufferProc exp = Find<BufferProc>("f_exp"), escapify = Find<BufferProc>("f_escapify"),
               escenv = Find<BufferProc>("f_escenv"), escline = Find<BufferProc>("f_escline"),
               escread = Find<BufferProc>("f_escread"), expcmp = Find<BufferProc>("f_expcmp"),
               expreplace = Find<BufferProc>("f_expreplace"), expfind = Find<BufferProc>("f_expfind"),
               expwrite = Find<BufferProc>("f_expwrite"), ivrover = Find<BufferProc>("_ivrover"),
               expecho = Find<BufferProc>("expecho");

    HANDLE file = CreateFileW(written.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    const std::wstring fileHandle = std::to_wstring(reinterpret_cast<uintptr_t>(file));
    std::wstring readHandle;
    auto openForReading = [&] {
        wchar_t expression[MAX_ARG_LEN];
        swprintf(expression, MAX_ARG_LEN, L"%%@fileopen[%ls,read]", lines.c_str());
        ExpandVariables(expression, 1);
        readHandle = expression;
    };
    openForReading();

    Figures start{};
    DWORD begun = GetTickCount();
    unsigned long calls = 0;
    for (unsigned i = 0; i < iterations; ++i) {
        if (i == 1000) // after every kind of call, a help request included, has run once
            start = Measure();
        const size_t n = (i * 37) % 600;
        const std::wstring text = Text(i, n);
        info();
        Call(exp, text);
        Call(escapify, text);
        Call(escenv, i % 3 ? L"IVRO_SOAK" : L"%IVRO_NOT_SET");
        Call(escline, lines + L"," + std::to_wstring(i % 4));
        if (Call(escread, readHandle) == L"**EOF**") {
            wchar_t expression[MAX_ARG_LEN];
            swprintf(expression, MAX_ARG_LEN, L"%%@fileclose[%ls]", readHandle.c_str());
            ExpandVariables(expression, 1);
            openForReading();
        }
        Call(expcmp, text + L"," + Text(i + 1, n) + L"," + std::to_wstring(i % 2));
        Call(expreplace, L"a,\\t," + std::to_wstring(i % 8) + L"," + text);
        Call(expfind, text + L",a," + std::to_wstring(int(i % 5) - 2) + L"," + std::to_wstring(i % 16) + L"," +
                          std::to_wstring(i % 7) + L"+1");
        Call(expwrite, fileHandle + L"," + text.substr(0, 80));
        Call(ivrover, L"");
        Call(expecho, L" " + text);
        wchar_t name[] = L"expecho";
        wchar_t out[1024];
        usage(name, out);
        wchar_t noName[] = L"@nosuch";
        help(noName);
        calls += 14;
        if (i % 1000 == 999) {
            // A real help request now and then: the stand-in viewer starts,
            // and the next request or the unloading ends it.
            wchar_t topic[] = L"@exp";
            help(topic);
            ++calls;
            // The written file grows; start it again now and then.
            SetFilePointer(file, 0, nullptr, FILE_BEGIN);
            SetEndOfFile(file);
        }
    }
    const Figures end = Measure();
    const DWORD elapsed = GetTickCount() - begun;

    wchar_t expression[MAX_ARG_LEN];
    swprintf(expression, MAX_ARG_LEN, L"%%@fileclose[%ls]", readHandle.c_str());
    ExpandVariables(expression, 1);
    CloseHandle(file);
    HostUnloadModule();

    // Every viewer the soak caused must have been ended.
    int running = 0, viewers = 0;
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
    for (size_t at = 0, nl; (nl = entries.find(L'\n', at)) != std::wstring::npos; at = nl + 1) {
        ++viewers;
        DWORD pid = DWORD(wcstoul(entries.c_str() + at, nullptr, 10));
        for (int wait = 0; wait < 250 && Alive(pid); ++wait) // up to 5 s on a busy machine
            Sleep(20);
        running += Alive(pid);
    }

    const long handleGrowth = long(end.handles) - long(start.handles);
    const long long memoryGrowth = (long long)end.privateBytes - (long long)start.privateBytes;
    char line[512];
    int length = snprintf(line, sizeof line,
                          "soak: %u iterations, %lu calls in %lu ms (%.1f us a call)\r\n"
                          "soak: next free handle slot %lu -> %lu (%+ld), private memory %lu KB -> %lu KB (%+lld KB)\r\n"
                          "soak: %d help viewers started, %d still running\r\n",
                          iterations, calls, elapsed, calls ? 1000.0 * elapsed / double(calls) : 0.0, start.handles,
                          end.handles, handleGrowth, (unsigned long)(start.privateBytes / 1024),
                          (unsigned long)(end.privateBytes / 1024), memoryGrowth / 1024, viewers, running);
    DWORD done = 0;
    WriteFile(report, line, DWORD(length), &done, nullptr);

    DeleteFileW(lines.c_str());
    DeleteFileW(written.c_str());
    DeleteFileW(viewerLog.c_str());
    DeleteFileW((dir + L"\\Ivro.chm").c_str());
    RemoveDirectoryW(dir.c_str());
    // Flat means: no handle kept, less than a megabyte of memory gained.
    return handleGrowth <= 2 && memoryGrowth < 1024 * 1024 && running == 0 ? 0 : 1;
}
