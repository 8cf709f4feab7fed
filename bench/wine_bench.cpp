// The real module through its exports, as the shell calls them: loads
// TakeCmd.dll and the module (run it in the folder that holds both) and
// times each export on the inputs that bench/inputs.py wrote.
//
//   ivro_wine_bench DIR [RUNS]
//   ivro_wine_bench --serve DIR
//   ivro_wine_bench --breakdown DIR [RUNS]
//
// DIR holds cases-wine.txt and the .u16 inputs (a Windows path; under wine
// Z:/... names a Linux folder). For every case the argument is copied into a
// buffer of 8192 units before each call, as the shell hands a fresh buffer to
// each call; the copy is part of the figure. Calls per run are doubled until a
// run takes 20 ms; RUNS rounds (default 5) time one run of every case each,
// with QueryPerformanceCounter, and the median run is printed, one line per
// case:
//
//   result,IMPL,INPUT,UNITS,NS_PER_CALL,CALLS_PER_RUN
//
// IMPL is the export's name; the 64-bit build adds "-x64" (f_exp-x64), so
// that the figures of both modules stand in one table. The 32-bit module's
// keep the plain names.
//
// --serve checks the cases as above, then follows the protocol of
// bench/side_by_side.py: prints "case K IMPL INPUT UNITS" for each case (IMPL
// with its suffix) and "ready", and answers each line "run K CALLS" with
// "took NS", the nanoseconds CALLS calls of case K took, until "quit".
//
// --breakdown splits one call of @escapify on DIR/plain-1024.u16 into its
// parts, each timed on its own in the same way, one line each (ns per call):
// the whole call with its copy-in; the copy-in alone; the shell's expansion
// of the two options the module reads, ExpandVariables called here on the
// same text in a MAX_ARG_LEN buffer; GetEnvironmentVariableW of Ivro_Chars
// and Ivro_Flags into 1024-unit buffers, as the module reads them; and the
// call on an empty text, which reads the same settings but has nothing to
// escapify. Escapify's share is the whole call less the copy-in and the empty
// call; the module's own work is the empty call less the options and the
// environment reads.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "escape/text.h"
#include "plugin/host.h"
#include "plugin/protocol.h"
#include "ivro_platform.h"

extern "C" {
int WINAPI HostLoadModule(LPCWSTR path);
void WINAPI HostUnloadModule(void);
}

namespace {

std::wstring Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(2);
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::wstring text(bytes.size() / 2, L'\0');
    std::memcpy(&text[0], bytes.data(), text.size() * 2);
    return text;
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

// What a correct call leaves in the buffer, where the case says.
std::wstring Expected(const std::string& impl, const std::string& input, const std::wstring& argument,
                      const std::string& expectFile)
{
    if (impl == "f_exp" && Exists(expectFile))
        return Load(expectFile);
    if (impl == "f_escapify" && input == "plain")
        return argument;
    if (impl == "f_expcmp")
        return L"0";
    if (impl == "f_expfind") // aaa...a,aa,0: every position but the last starts one
        return std::to_wstring(argument.find(L',') - 1);
    if (impl == "f_expreplace") // x,b,f,aaa...a: every a becomes b
        return std::wstring(argument.size() - 6, L'b');
    return std::wstring(1, L'\xFFFF'); // not checked
}

// What follows an export's name in the printed figures: nothing for the
// 32-bit module, "-x64" for the 64-bit one.
const std::string& ImplSuffix()
{
    static const std::string suffix = std::string(IVRO_PLATFORM) == "x86" ? "" : "-" IVRO_PLATFORM;
    return suffix;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency)
{
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

// Times each of `parts` as the cases are timed: calls per run doubled until a
// run takes 20 ms, `runs` rounds that each time one run of every part; the
// median run, in ns per call.
std::vector<double> TimeParts(const std::vector<std::function<void()>>& parts, int runs)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    auto timeRun = [&](const std::function<void()>& part, long calls) {
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        for (long i = 0; i < calls; ++i)
            part();
        QueryPerformanceCounter(&t1);
        return Seconds(t0, t1, frequency);
    };
    std::vector<long> calls(parts.size(), 1);
    for (size_t p = 0; p < parts.size(); ++p)
        while (timeRun(parts[p], calls[p]) < 0.02)
            calls[p] *= 2;
    std::vector<std::vector<double>> perCall(parts.size());
    for (int r = 0; r < runs; ++r)
        for (size_t p = 0; p < parts.size(); ++p)
            perCall[p].push_back(timeRun(parts[p], calls[p]) * 1e9 / double(calls[p]));
    std::vector<double> medians;
    for (std::vector<double>& figures : perCall) {
        std::sort(figures.begin(), figures.end());
        medians.push_back(figures[figures.size() / 2]);
    }
    return medians;
}

// --breakdown: where one call of @escapify on 1024 units of plain text goes.
int Breakdown(HMODULE module, const std::string& dir, int runs)
{
    const std::wstring argument = Load(dir + "/plain-1024.u16");
    const auto escapify = reinterpret_cast<BufferProc>(reinterpret_cast<void*>(GetProcAddress(module, "f_escapify")));
    if (escapify == nullptr) {
        std::fprintf(stderr, "the module exports no f_escapify\n");
        return 2;
    }
    std::vector<wchar_t> buffer(MAX_ARG_LEN + 64, 0);
    std::vector<wchar_t> option(MAX_ARG_LEN, 0);
    wchar_t environment[1024];
    const size_t bytes = (argument.size() + 1) * sizeof(wchar_t);

    // What the parts do, checked once: plain text comes back as it was, and
    // the options expand as the module expects them to.
    std::memcpy(buffer.data(), argument.c_str(), bytes);
    if (escapify(buffer.data()) != 0 || argument != buffer.data()) {
        std::fprintf(stderr, "@escapify changed plain text\n");
        return 1;
    }
    auto expandOption = [&](const wchar_t* expression) {
        wmemcpy(option.data(), expression, wcslen(expression) + 1);
        ExpandVariables(option.data(), 1);
    };
    const wchar_t* const separator = L"%@option[commandsep]";
    const wchar_t* const escape = L"%@option[escapechar]";
    expandOption(separator);
    const std::wstring separatorValue = option.data();
    expandOption(escape);
    const std::wstring escapeValue = option.data();
    if (separatorValue.size() != 1 || escapeValue.size() != 1) {
        std::fprintf(stderr, "the options expand to %u and %u units, not one each\n", unsigned(separatorValue.size()),
                     unsigned(escapeValue.size()));
        return 1;
    }

    const std::vector<std::function<void()>> parts = {
        [&] {
            std::memcpy(buffer.data(), argument.c_str(), bytes);
            escapify(buffer.data());
        },
        [&] { std::memcpy(buffer.data(), argument.c_str(), bytes); },
        [&] {
            buffer[0] = 0;
            escapify(buffer.data());
        },
        [&] { expandOption(separator); },
        [&] { expandOption(escape); },
        [&] { GetEnvironmentVariableW(L"Ivro_Chars", environment, 1024); },
        [&] { GetEnvironmentVariableW(L"Ivro_Flags", environment, 1024); },
    };
    const std::vector<double> ns = TimeParts(parts, runs);
    const double whole = ns[0], copy = ns[1], empty = ns[2];
    const double options = ns[3] + ns[4], reads = ns[5] + ns[6];
    std::printf("@escapify on %u units of plain text, %s, ns per call (median of %d runs):\n",
                unsigned(argument.size()), IVRO_FILE_NAME, runs);
    auto line = [](const char* what, double figure) { std::printf("  %-62s %8.1f\n", what, figure); };
    line("whole call: copy-in and f_escapify", whole);
    line("copy-in of the argument (memcpy)", copy);
    line("option expansion, ExpandVariables of %@option[commandsep]", ns[3]);
    line("option expansion, ExpandVariables of %@option[escapechar]", ns[4]);
    line("environment read, GetEnvironmentVariableW of Ivro_Chars", ns[5]);
    line("environment read, GetEnvironmentVariableW of Ivro_Flags", ns[6]);
    line("Escapify in the module: whole call - copy-in - empty call", whole - copy - empty);
    line("module's own work: empty call - options - environment reads", empty - options - reads);
    line("(empty call: f_escapify on an empty text)", empty);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const bool breakdown = argc > 1 && std::string(argv[1]) == "--breakdown";
    const bool serve = argc > 1 && std::string(argv[1]) == "--serve";
    const int first = breakdown || serve ? 2 : 1; // DIR
    if (argc < first + 1) {
        std::fprintf(stderr, "usage: %s [--breakdown | --serve] DIR [RUNS]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[first];
    const int runs = argc > first + 1 ? std::max(1, std::atoi(argv[first + 1])) : 5;

    if (HostLoadModule(L"" IVRO_FILE_NAME) != 0)
        return 2;
    HMODULE module = GetModuleHandleW(L"" IVRO_FILE_NAME);
    if (module == nullptr)
        return 2;
    std::fflush(stdout);
    if (breakdown) {
        const int status = Breakdown(module, dir, runs);
        HostUnloadModule();
        return status;
    }

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<wchar_t> buffer(MAX_ARG_LEN + 64, 0);

    struct Case {
        std::string impl, input;
        int units;
        std::wstring argument;
        BufferProc proc;
        long calls;
        std::vector<double> perCall;
    };
    std::vector<Case> cases;
    int status = 0;
    std::ifstream list(dir + "/cases-wine.txt");
    std::string impl, input, file;
    int units = 0;
    while (list >> impl >> input >> units >> file) {
        Case c{impl, input, units, Load(dir + "/" + file + ".u16"), nullptr, 1, {}};
        if (int(c.argument.size()) != units || units > MAX_TEXT_LEN) {
            std::fprintf(stderr, "%s: %u units, not %d\n", file.c_str(), unsigned(c.argument.size()), units);
            return 2;
        }
        c.proc = reinterpret_cast<BufferProc>(reinterpret_cast<void*>(GetProcAddress(module, impl.c_str())));
        if (c.proc == nullptr) {
            std::fprintf(stderr, "the module exports no %s\n", impl.c_str());
            return 2;
        }
        // One checked call first.
        std::memcpy(buffer.data(), c.argument.c_str(), (c.argument.size() + 1) * sizeof(wchar_t));
        const int code = c.proc(buffer.data());
        const std::wstring result(buffer.data(), wcsnlen(buffer.data(), MAX_ARG_LEN));
        const std::wstring expected = Expected(impl, input, c.argument, dir + "/" + file + ".expect.u16");
        if (code != 0 || (expected != std::wstring(1, L'\xFFFF') && result != expected)) {
            std::fprintf(stderr, "%s %s %d: result %d, %s text (%u units)\n", impl.c_str(), input.c_str(), units,
                         code, result == expected ? "expected" : "unexpected", unsigned(result.size()));
            status = 1;
            continue;
        }
        cases.push_back(c);
    }

    // Times `calls` calls of case c; the argument is copied in before each.
    auto timeRun = [&](const Case& c, long calls) {
        const size_t bytes = (c.argument.size() + 1) * sizeof(wchar_t);
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        for (long i = 0; i < calls; ++i) {
            std::memcpy(buffer.data(), c.argument.c_str(), bytes);
            c.proc(buffer.data());
        }
        QueryPerformanceCounter(&t1);
        return Seconds(t0, t1, frequency);
    };
    if (serve) {
        if (status != 0)
            return status;
        for (size_t k = 0; k < cases.size(); ++k)
            std::printf("case %u %s%s %s %d\n", unsigned(k), cases[k].impl.c_str(), ImplSuffix().c_str(),
                        cases[k].input.c_str(), cases[k].units);
        std::printf("ready\n");
        std::fflush(stdout);
        char line[128];
        unsigned k = 0;
        long calls = 0;
        while (std::fgets(line, sizeof line, stdin) != nullptr && std::sscanf(line, "run %u %ld", &k, &calls) == 2 &&
               k < cases.size() && calls > 0) {
            const double seconds = timeRun(cases[k], calls);
            std::printf("took %.0f\n", seconds * 1e9);
            std::fflush(stdout);
        }
        HostUnloadModule();
        return 0;
    }

    // Calls per run: doubled until a run takes 20 ms.
    for (Case& c : cases)
        while (timeRun(c, c.calls) < 0.02)
            c.calls *= 2;
    // The runs of all cases interleaved, so that a burst of noise on the
    // machine hits every case alike rather than all the runs of one.
    for (int r = 0; r < runs; ++r)
        for (Case& c : cases)
            c.perCall.push_back(timeRun(c, c.calls) * 1e9 / double(c.calls));
    for (Case& c : cases) {
        std::sort(c.perCall.begin(), c.perCall.end());
        std::printf("result,%s%s,%s,%d,%.1f,%ld\n", c.impl.c_str(), ImplSuffix().c_str(), c.input.c_str(), c.units,
                    c.perCall[c.perCall.size() / 2], c.calls);
    }
    HostUnloadModule();
    return status;
}
