// The portable core, natively, with Google Benchmark: ExpandEscapes, Escapify
// (under flag 0, and as Escapify-1 under flag 1) and SplitArgs on the inputs
// that bench/inputs.py wrote, and memcpy of the same bytes as the floor.
//
//   ivro_native_bench DIR [benchmark options]   runs the cases of DIR/cases-native.txt
//   ivro_native_bench --serve DIR               times runs of those cases on request
//                                               (bench/side_by_side.py's protocol)
//   ivro_native_bench --fit FILE.u16 [FLAGS]    prints the length of the longest
//                                               prefix whose escaped form fits
//   ivro_native_bench --loop IMPL FILE.u16 N    N calls of IMPL on FILE and
//                                               nothing else, for a profiler
//
// ExpandEscapes and Escapify rewrite their text in place, so every iteration
// first copies the input (and its NUL) into the work buffer: their figures
// include that copy, whose own cost is the memcpy benchmark of the same input.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "escape/args.h"
#include "escape/escapify.h"
#include "escape/expand.h"
#include "escape/simd.h"

// SplitArgs reports an overflow through this; no input here can overflow.
void ReportSplitOverflow(int used, int capacity)
{
    std::fprintf(stderr, "unexpected split overflow: %d of %d\n", used, capacity);
    std::abort();
}

namespace {

ArgList g_list; // filled by every split

const Unit kSpecial[] = u"\"%&<>[]^`|";

// A UTF-16LE file as units, followed by a NUL.
std::u16string Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(2);
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::u16string text(bytes.size() / 2, u'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * 2);
    return text;
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

// The work buffer of a shell call: MAX_ARG_LEN units.
Unit* WorkBuffer()
{
    alignas(64) static Unit buffer[MAX_ARG_LEN];
    return buffer;
}

struct Case {
    std::string impl, input, file;
    int units;
    std::u16string text;   // the input, NUL-terminated by the string
    std::u16string expect; // its expansion, where known
};

void SetCounters(benchmark::State& state, const Case& c)
{
    state.SetItemsProcessed(int64_t(state.iterations()) * c.units);
    state.counters["units"] = c.units;
}

void RunExpand(benchmark::State& state, const Case* c)
{
    Unit* buffer = WorkBuffer();
    const size_t bytes = (c->text.size() + 1) * sizeof(Unit);
    std::memcpy(buffer, c->text.c_str(), bytes);
    int r = ExpandEscapes(buffer, nullptr);
    if (r < 0) {
        state.SkipWithError("ExpandEscapes failed");
        return;
    }
    if (!c->expect.empty() && std::u16string(buffer) != c->expect) {
        state.SkipWithError("ExpandEscapes gave another text than expected");
        return;
    }
    for (auto _ : state) {
        std::memcpy(buffer, c->text.c_str(), bytes);
        benchmark::DoNotOptimize(buffer);
        r = ExpandEscapes(buffer, nullptr);
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
    SetCounters(state, *c);
}

// The flags of an escaping case: 1 for Escapify-1, else 0.
uint32_t FlagsOf(const std::string& impl) { return impl == "Escapify-1" ? 1 : 0; }

void RunEscapify(benchmark::State& state, const Case* c)
{
    Unit* buffer = WorkBuffer();
    const size_t bytes = (c->text.size() + 1) * sizeof(Unit);
    const uint32_t flags = FlagsOf(c->impl);
    std::memcpy(buffer, c->text.c_str(), bytes);
    if (Escapify(buffer, flags, kSpecial) < 0) {
        state.SkipWithError("Escapify failed");
        return;
    }
    for (auto _ : state) {
        std::memcpy(buffer, c->text.c_str(), bytes);
        benchmark::DoNotOptimize(buffer);
        int r = Escapify(buffer, flags, kSpecial);
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
    SetCounters(state, *c);
}

void RunSplit(benchmark::State& state, const Case* c)
{
    if (SplitArgs(c->text.c_str(), &g_list) < 1) {
        state.SkipWithError("SplitArgs found no argument");
        return;
    }
    for (auto _ : state) {
        int r = SplitArgs(c->text.c_str(), &g_list);
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
    SetCounters(state, *c);
}

void RunMemcpy(benchmark::State& state, const Case* c)
{
    Unit* buffer = WorkBuffer();
    const size_t bytes = (c->text.size() + 1) * sizeof(Unit);
    for (auto _ : state) {
        std::memcpy(buffer, c->text.c_str(), bytes);
        benchmark::DoNotOptimize(buffer);
        benchmark::ClobberMemory();
    }
    SetCounters(state, *c);
}

// The routine a case times.
enum class Routine { Expand, Escapify, EscapifyAll, Split, Memcpy };

Routine RoutineOf(const std::string& impl)
{
    return impl == "ExpandEscapes" ? Routine::Expand
         : impl == "Escapify"      ? Routine::Escapify
         : impl == "Escapify-1"    ? Routine::EscapifyAll
         : impl == "SplitArgs"     ? Routine::Split
                                   : Routine::Memcpy;
}

// One call of the routine as the benchmarks time it, the input copied in
// first where the routine changes its text.
template <Routine R>
inline void CallOnce(const Case& c, Unit* buffer, size_t bytes)
{
    if constexpr (R == Routine::Split) {
        int r = SplitArgs(c.text.c_str(), &g_list);
        benchmark::DoNotOptimize(r);
    } else {
        std::memcpy(buffer, c.text.c_str(), bytes);
        benchmark::DoNotOptimize(buffer);
        if constexpr (R == Routine::Expand) {
            int r = ExpandEscapes(buffer, nullptr);
            benchmark::DoNotOptimize(r);
        } else if constexpr (R == Routine::Escapify || R == Routine::EscapifyAll) {
            int r = Escapify(buffer, R == Routine::EscapifyAll ? 1 : 0, kSpecial);
            benchmark::DoNotOptimize(r);
        }
    }
    benchmark::ClobberMemory();
}

template <Routine R>
void CallMany(const Case& c, Unit* buffer, long calls)
{
    const size_t bytes = (c.text.size() + 1) * sizeof(Unit);
    for (long i = 0; i < calls; ++i)
        CallOnce<R>(c, buffer, bytes);
}

// `calls` calls of the case's routine, chosen once for all of them: testing
// the routine's name on every call cost more than the whole copy of a
// 16-unit text.
void Calls(const Case& c, Unit* buffer, long calls)
{
    switch (RoutineOf(c.impl)) {
    case Routine::Expand:
        CallMany<Routine::Expand>(c, buffer, calls);
        break;
    case Routine::Escapify:
        CallMany<Routine::Escapify>(c, buffer, calls);
        break;
    case Routine::EscapifyAll:
        CallMany<Routine::EscapifyAll>(c, buffer, calls);
        break;
    case Routine::Split:
        CallMany<Routine::Split>(c, buffer, calls);
        break;
    case Routine::Memcpy:
        CallMany<Routine::Memcpy>(c, buffer, calls);
        break;
    }
}

// Checks each case once, as the benchmarks do; false after printing why not.
bool Check(const Case& c)
{
    Unit* buffer = WorkBuffer();
    std::memcpy(buffer, c.text.c_str(), (c.text.size() + 1) * sizeof(Unit));
    if (c.impl == "ExpandEscapes") {
        if (ExpandEscapes(buffer, nullptr) < 0 || (!c.expect.empty() && std::u16string(buffer) != c.expect)) {
            std::fprintf(stderr, "ExpandEscapes on %s gave another text than expected\n", c.file.c_str());
            return false;
        }
    } else if (RoutineOf(c.impl) == Routine::Escapify || RoutineOf(c.impl) == Routine::EscapifyAll) {
        // What it escaped expands back to the input: every escape it wrote
        // means its character (the input has no lone surrogate).
        if (Escapify(buffer, FlagsOf(c.impl), kSpecial) < 0) {
            std::fprintf(stderr, "Escapify on %s failed\n", c.file.c_str());
            return false;
        }
        if (ExpandEscapes(buffer, nullptr) < 0 || std::u16string(buffer) != c.text) {
            std::fprintf(stderr, "Escapify on %s gave a text that does not expand back to it\n", c.file.c_str());
            return false;
        }
    } else if (c.impl == "SplitArgs" && SplitArgs(c.text.c_str(), &g_list) < 1) {
        std::fprintf(stderr, "SplitArgs on %s found no argument\n", c.file.c_str());
        return false;
    }
    return true;
}

// --serve: the protocol of bench/side_by_side.py. Prints "case K IMPL INPUT
// UNITS" for each case and "ready"; then answers each line "run K CALLS"
// with "took NS", the nanoseconds CALLS calls of case K took, until "quit"
// or the end of the input.
int Serve(const std::vector<Case>& cases)
{
    for (const Case& c : cases)
        if (!Check(c))
            return 1;
    std::printf("path %s\n", ScanPathName(ActiveScanPath()));
    for (size_t k = 0; k < cases.size(); ++k)
        std::printf("case %zu %s %s %d\n", k, cases[k].impl.c_str(), cases[k].input.c_str(), cases[k].units);
    std::printf("ready\n");
    std::fflush(stdout);
    Unit* buffer = WorkBuffer();
    char line[128];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        size_t k = 0;
        long calls = 0;
        if (std::sscanf(line, "run %zu %ld", &k, &calls) != 2 || k >= cases.size() || calls < 1)
            break;
        const auto t0 = std::chrono::steady_clock::now();
        Calls(cases[k], buffer, calls);
        const auto t1 = std::chrono::steady_clock::now();
        std::printf("took %lld\n", static_cast<long long>(std::chrono::nanoseconds(t1 - t0).count()));
        std::fflush(stdout);
    }
    return 0;
}

// The longest prefix (not splitting a surrogate pair) whose escaped form
// under `flags` fits.
int Fit(const std::string& path, uint32_t flags)
{
    std::u16string text = Load(path);
    Unit* buffer = WorkBuffer();
    auto fits = [&](size_t n) {
        std::memcpy(buffer, text.data(), n * sizeof(Unit));
        buffer[n] = 0;
        return Escapify(buffer, flags, kSpecial) >= 0;
    };
    size_t lo = 0, hi = text.size(); // fits(lo); the answer is below hi + 1
    if (fits(hi)) {
        std::printf("%zu\n", hi);
        return 0;
    }
    while (hi - lo > 1) {
        size_t mid = (lo + hi) / 2;
        (fits(mid) ? lo : hi) = mid;
    }
    // Escaped length grows with the prefix, so lo is the longest that fits;
    // step back from between the units of a pair.
    if (lo > 0 && text[lo - 1] >= 0xD800 && text[lo - 1] <= 0xDBFF)
        --lo;
    std::printf("%zu\n", lo);
    return 0;
}

// N calls of one routine, as the benchmark makes them, for callgrind.
int Loop(const std::string& impl, const std::string& path, long n)
{
    Case c;
    c.impl = impl;
    c.text = Load(path);
    c.units = int(c.text.size());
    Unit* buffer = WorkBuffer();
    const size_t bytes = (c.text.size() + 1) * sizeof(Unit);
    long sum = 0;
    for (long i = 0; i < n; ++i) {
        std::memcpy(buffer, c.text.c_str(), bytes);
        benchmark::DoNotOptimize(buffer);
        if (impl == "ExpandEscapes")
            sum += ExpandEscapes(buffer, nullptr);
        else if (impl == "Escapify" || impl == "Escapify-1")
            sum += Escapify(buffer, FlagsOf(impl), kSpecial);
        else if (impl == "SplitArgs")
            sum += SplitArgs(c.text.c_str(), &g_list);
        benchmark::ClobberMemory();
    }
    std::printf("%s on %s, %ld calls: %ld\n", impl.c_str(), path.c_str(), n, sum);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--fit") == 0)
        return Fit(argv[2], argc == 4 ? uint32_t(std::strtoul(argv[3], nullptr, 0)) : 0);
    if (argc == 5 && std::strcmp(argv[1], "--loop") == 0)
        return Loop(argv[2], argv[3], std::atol(argv[4]));
    const bool serve = argc == 3 && std::strcmp(argv[1], "--serve") == 0;
    if (!serve && (argc < 2 || argv[1][0] == '-')) {
        std::fprintf(stderr,
                     "usage: %s DIR [benchmark options] | --serve DIR | --fit FILE.u16 [FLAGS] | --loop IMPL FILE.u16 N\n",
                     argv[0]);
        return 2;
    }
    const std::string dir = argv[serve ? 2 : 1];

    static std::vector<Case> cases;
    std::ifstream list(dir + "/cases-native.txt");
    Case c;
    while (list >> c.impl >> c.input >> c.units >> c.file) {
        c.text = Load(dir + "/" + c.file + ".u16");
        if (int(c.text.size()) != c.units) {
            std::fprintf(stderr, "%s: %zu units, not %d\n", c.file.c_str(), c.text.size(), c.units);
            return 2;
        }
        const std::string expect = dir + "/" + c.file + ".expect.u16";
        c.expect = Exists(expect) ? Load(expect) : std::u16string();
        cases.push_back(c);
    }
    if (serve)
        return Serve(cases);
    for (const Case& k : cases) {
        const std::string name = k.impl + "/" + k.input + "/" + std::to_string(k.units);
        void (*run)(benchmark::State&, const Case*) = k.impl == "ExpandEscapes" ? RunExpand
                                                    : k.impl == "Escapify" || k.impl == "Escapify-1" ? RunEscapify
                                                    : k.impl == "SplitArgs"     ? RunSplit
                                                                                : RunMemcpy;
        benchmark::RegisterBenchmark(name.c_str(), run, &k)->Unit(benchmark::kNanosecond)->UseRealTime();
    }

    argv[1] = argv[0];
    --argc;
    ++argv;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
