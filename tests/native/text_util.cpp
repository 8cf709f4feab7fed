#include "text_util.h"

#include <cstdio>
#include <cstdlib>

#include "escape/simd.h"

namespace {

// IVRO_SCAN_PATH=scalar, sse2 or avx2 makes the whole run take that path of
// the engine's scans, so that one test program checks each of them; a path
// the build or the processor lacks ends the run before any test.
struct ScanPathOfTheRun {
    ScanPathOfTheRun()
    {
        const char* name = std::getenv("IVRO_SCAN_PATH");
        ScanPath path;
        if (name != nullptr && *name != 0 && (!ParseScanPath(name, &path) || !ForceScanPath(path))) {
            std::fprintf(stderr, "IVRO_SCAN_PATH=%s: no such scan path here (scalar, sse2, avx2)\n", name);
            std::exit(2);
        }
        std::printf("scan path: %s\n", ScanPathName(ActiveScanPath()));
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

std::vector<std::pair<int, int>>& SplitOverflowReports()
{
    static std::vector<std::pair<int, int>> reports;
    return reports;
}

// The engine's report of a split overflow, recorded instead of printed.
void ReportSplitOverflow(int used, int capacity) { SplitOverflowReports().emplace_back(used, capacity); }
