# Cross-compiling for 32-bit Windows (x86) with Debian's mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_PREFIX i686-w64-mingw32)

# SSE2, which every x86 processor since 2001 has and Windows 8 and later
# require: the scan for backslashes reads eight units at a time. Loops start
# on 32 bytes and jump targets on 16: without it the speed of the engine's
# loops in this build depended on where the linker happened to put them
# (runs of \x41 took 1.3 times as long after an unrelated file was split).
set(CMAKE_C_FLAGS_INIT "-msse2 -falign-loops=32 -falign-jumps=16")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -falign-loops=32 -falign-jumps=16")

include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
