#include "text_util.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "escape/simd.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace {

// IVRO_SCAN_PATH=scalar, sse2 or avx2 makes the whole run take that path of
// the engine's scans, so that one test program checks each of them; without
// it the run takes the widest path the build has and the processor runs. A
// path the build or the processor lacks, or calls that would take another
// path than the one the run is for, end the run before any test.
struct ScanPathOfTheRun {
    ScanPathOfTheRun()
    {
        const char* name = std::getenv("IVRO_SCAN_PATH");
        ScanPath path;
        if (name != nullptr && *name != 0 && (!ParseScanPath(name, &path) || !ForceScanPath(path))) {
            std::fprintf(stderr, "IVRO_SCAN_PATH=%s: no such scan path here (scalar, sse2, avx2)\n", name);
            std::exit(2);
        }
        const char* widest = !IVRO_USE_SSE2 ? "scalar" : IVRO_USE_AVX2 && __builtin_cpu_supports("avx2") ? "avx2" : "sse2";
        const char* wanted = name != nullptr && *name != 0 ? name : widest;
        const char* active = ScanPathName(ActiveScanPath());
        if (std::strcmp(active, wanted) != 0) {
            std::fprintf(stderr, "the calls would take the %s scan path, not %s\n", active, wanted);
            std::exit(2);
        }
        std::printf("scan path: %s\n", active);
    }
} g_scanPathOfTheRun;

} // namespace

std::string Show(const Unit* units, size_t n)
{
    std::string s = "\"";
    auto put = [&s](Unit u) {
        if (u == '\\') {
            s += "\\\\";
        } else if (u >= 0x20 && u < 0x7F) {
            s += char(u);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04X", unsigned(u));
            s += hex;
        }
    };
    if (n <= 80) {
        for (size_t k = 0; k < n; ++k)
            put(units[k]);
    } else {
        for (size_t k = 0; k < 16; ++k)
            put(units[k]);
        s += "...(" + std::to_string(n) + " units)...";
        for (size_t k = n - 32; k < n; ++k)
            put(units[k]);
    }
    return s + "\"";
}

std::string Show(const Text& text) { return Show(text.data(), text.size()); }

Unit* GuardedBuffer()
{
    static Unit* const units = [] {
        // x86 pages, natively and on Windows: 4 KiB, of which the buffer takes whole ones.
        constexpr size_t kPage = 4096, kBytes = MAX_ARG_LEN * sizeof(Unit), kData = (kBytes + kPage - 1) / kPage * kPage;
#ifdef _WIN32
        char* base = static_cast<char*>(VirtualAlloc(nullptr, kData + kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD old;
        const bool guarded = base != nullptr && VirtualProtect(base + kData, kPage, PAGE_NOACCESS, &old);
#else
        void* map = mmap(nullptr, kData + kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        char* base = map == MAP_FAILED ? nullptr : static_cast<char*>(map);
        const bool guarded = base != nullptr && mprotect(base + kData, kPage, PROT_NONE) == 0;
#endif
        if (!guarded) {
            std::fprintf(stderr, "no buffer before an unreadable page\n");
            std::abort();
        }
        return reinterpret_cast<Unit*>(base + kData - kBytes);
    }();
    return units;
}

std::vector<std::pair<int, int>>& SplitOverflowReports()
{
    static std::vector<std::pair<int, int>> reports;
    return reports;
}

// The engine's report of a split overflow, recorded instead of printed.
void ReportSplitOverflow(int used, int capacity) { SplitOverflowReports().emplace_back(used, capacity); }
