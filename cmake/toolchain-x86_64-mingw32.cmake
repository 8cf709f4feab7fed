# Cross-compiling for 64-bit Windows (x64) with Debian's mingw-w64. SSE2 is
# part of every x86-64 processor, so nothing needs to be asked for.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)

include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
