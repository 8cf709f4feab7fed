// The real module through its exports, as the shell calls them: loads
// TakeCmd.dll and the module (run it in the folder that holds both) and
// times each export on the inputs that bench/inputs.py wrote.
//
//   ivro_wine_bench DIR [RUNS]
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
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "escape/text.h"
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

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR [RUNS]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    if (HostLoadModule(L"" IVRO_FILE_NAME) != 0)
        return 2;
    HMODULE module = GetModuleHandleW(L"" IVRO_FILE_NAME);
    if (module == nullptr)
        return 2;
    std::fflush(stdout);

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
