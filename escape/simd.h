// The engine's block scans and which of them a call takes.
//
// Every target built here has SSE2 (x86-64 always, the 32-bit build with
// -msse2). A processor with AVX2 takes wider scans where a call starts, over
// the run that usually covers the whole text; the choice is the processor's,
// read by the runtime's feature detection when the program starts, and
// nothing a script can change. A build configured with -DIVRO_SIMD=OFF leaves
// the vector paths out, so that the scalar code is also built on its own.
#pragma once

#include <cstdint>

#if defined(__SSE2__) && !defined(IVRO_SCALAR_ONLY)
#define IVRO_USE_SSE2 1
#include <emmintrin.h>
#else
#define IVRO_USE_SSE2 0
#endif

// The AVX2 scans are compiled for that target function by function (the rest
// of the engine stays SSE2) and chosen at run time, which takes GCC's or
// Clang's target attribute and processor detection.
#if IVRO_USE_SSE2 && defined(__GNUC__)
#define IVRO_USE_AVX2 1
#include <immintrin.h>
#define IVRO_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define IVRO_USE_AVX2 0
#endif

// The scans a call takes: none (unit by unit), SSE2 blocks, or AVX2 blocks
// where a call starts and SSE2 blocks after.
enum class ScanPath : uint8_t { kScalar, kSse2, kAvx2 };

// The path of the calls from now on: the widest the build has and the
// processor runs, unless a test forced one.
ScanPath ActiveScanPath();

// For test runs: makes every later call take `path`. Returns false, and
// changes nothing, when the build left the path out or the processor cannot
// run it.
bool ForceScanPath(ScanPath path);

// "scalar", "sse2", "avx2"; ParseScanPath returns false for any other name.
const char* ScanPathName(ScanPath path);
bool ParseScanPath(const char* name, ScanPath* path);
