// Whether the engine's scans take their SSE2 paths. Every target built here
// has SSE2 (x86-64 always, the 32-bit build with -msse2); a build configured
// with -DIVRO_SIMD=OFF leaves the paths out, so that the scalar code is
// tested on its own.
#pragma once

#if defined(__SSE2__) && !defined(IVRO_SCALAR_ONLY)
#define IVRO_USE_SSE2 1
#include <emmintrin.h>
#else
#define IVRO_USE_SSE2 0
#endif
