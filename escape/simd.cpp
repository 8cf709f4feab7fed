#include "escape/simd.h"

#include <cstring>

namespace {

// -1 until a test forces a path. Constant-initialised: the module has no
// initialisation to run for it.
int g_forcedPath = -1;

bool Runs(ScanPath path)
{
    switch (path) {
    case ScanPath::kScalar: return true;
    case ScanPath::kSse2: return IVRO_USE_SSE2 != 0;
    case ScanPath::kAvx2:
#if IVRO_USE_AVX2
        // The detection also asks whether the system saves the wide
        // registers; it runs once, at the program's start, and this call
        // returns at once after it.
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
#else
        return false;
#endif
    }
    return false;
}

} // namespace

ScanPath ActiveScanPath()
{
    if (g_forcedPath >= 0)
        return ScanPath(g_forcedPath);
    return Runs(ScanPath::kAvx2) ? ScanPath::kAvx2 : Runs(ScanPath::kSse2) ? ScanPath::kSse2 : ScanPath::kScalar;
}

bool ForceScanPath(ScanPath path)
{
    if (!Runs(path))
        return false;
    g_forcedPath = int(path);
    return true;
}

const char* ScanPathName(ScanPath path)
{
    switch (path) {
    case ScanPath::kScalar: return "scalar";
    case ScanPath::kSse2: return "sse2";
    case ScanPath::kAvx2: return "avx2";
    }
    return "?";
}

bool ParseScanPath(const char* name, ScanPath* path)
{
    const ScanPath paths[] = {ScanPath::kScalar, ScanPath::kSse2, ScanPath::kAvx2};
    for (ScanPath p : paths)
        if (std::strcmp(name, ScanPathName(p)) == 0) {
            *path = p;
            return true;
        }
    return false;
}
