# Shared by run.sh, test.sh and the scripts: build folders and the configure
# steps. The module is built twice, for 32-bit (x86) and 64-bit (x64)
# Windows, each in a build folder with a wine prefix of its own.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WIN_BUILD=$ROOT/build/win
WIN64_BUILD=$ROOT/build/win64
NATIVE_BUILD=$ROOT/build/native
SCALAR_BUILD=$ROOT/build/native-scalar
TSAN_BUILD=$ROOT/build/native-tsan
FUZZ_BUILD=$ROOT/build/fuzz
EMULATED_BUILD=$ROOT/build/native-emulated
PLATFORMS=(x86 x64)

# The build folder of a platform (x86 or x64).
win_build() {
    case "$1" in
    x86) echo "$WIN_BUILD" ;;
    x64) echo "$WIN64_BUILD" ;;
    *) echo "unknown platform: $1 (x86 or x64)" >&2; return 1 ;;
    esac
}

# The CMake toolchain file of a platform.
win_toolchain() {
    case "$1" in
    x86) echo "$ROOT/cmake/toolchain-i686-mingw32.cmake" ;;
    x64) echo "$ROOT/cmake/toolchain-x86_64-mingw32.cmake" ;;
    esac
}

other_platform() {
    [ "$1" = x86 ] && echo x64 || echo x86
}

# configure_windows PLATFORM: the cross build of one platform. Each build
# also learns where the other one lies, for the test of a shell that is
# handed a module of the other width.
configure_windows() {
    local platform=$1 dir
    dir=$(win_build "$platform")
    [ -f "$dir/build.ninja" ] ||
        cmake -S "$ROOT" -B "$dir" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$(win_toolchain "$platform")" \
            -DIVRO_OTHER_BUILD="$(win_build "$(other_platform "$platform")")" \
            -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}

# quiet_build BUILD TARGET...: builds the targets and shows the build's
# output only when it fails.
quiet_build() {
    local dir=$1 log
    shift
    if ! log=$(cmake --build "$dir" --target "$@" 2>&1); then
        printf '%s\n' "$log" >&2
        return 1
    fi
}

# The version the build in BUILD is of, which names its release archive.
build_version() {
    sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"
}

configure_native() {
    [ -f "$NATIVE_BUILD/build.ninja" ] ||
        cmake -S "$ROOT" -B "$NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}

# The same tests with the engine's SSE2 paths left out: the scalar code alone.
configure_native_scalar() {
    [ -f "$SCALAR_BUILD/build.ninja" ] ||
        cmake -S "$ROOT" -B "$SCALAR_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIVRO_SIMD=OFF >/dev/null
}

# The core's tests under ThreadSanitizer instead of ASan and UBSan.
configure_native_tsan() {
    [ -f "$TSAN_BUILD/build.ninja" ] ||
        cmake -S "$ROOT" -B "$TSAN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIVRO_SANITIZERS=thread >/dev/null
}

# The core's tests under QEMU's emulation (Debian's qemu-user), in a build
# without the sanitizers (EMULATED_BUILD), which do not run under QEMU: the
# SSE2 path on a processor without AVX2, and, where this processor lacks it,
# the AVX2 path on one that has it.
has_avx2() {
    grep -qw avx2 /proc/cpuinfo
}

configure_native_emulated() {
    [ -f "$EMULATED_BUILD/build.ninja" ] ||
        cmake -S "$ROOT" -B "$EMULATED_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIVRO_SANITIZE=OFF >/dev/null
}

configure_fuzz() {
    [ -f "$FUZZ_BUILD/build.ninja" ] ||
        cmake -S "$ROOT" -B "$FUZZ_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DIVRO_FUZZ=ON >/dev/null
}

# prepare_wine_prefix BUILD: the first wine start in a new prefix takes a
# while and must not race with itself, so the prefix is made once, before
# anything runs in it. Mono and Gecko are not wanted (and would be
# downloaded): they are switched off.
prepare_wine_prefix() {
    local dir=$1
    if [ ! -f "$dir/wine-prefix/system.reg" ]; then
        echo "Creating the wine prefix in $dir/wine-prefix ..." >&2
        WINEDLLOVERRIDES="mscoree,mshtml=" "$dir/wine-run" wineboot --init >/dev/null 2>&1 || true
        WINEPREFIX="$dir/wine-prefix" wineserver -w
    fi
}

# start_wine_server BUILD: one wine server for a whole run, so that each
# program starts quickly. Wine's own background processes are started here,
# with nothing attached: started by the first test program, they would
# inherit its output pipes and keep CTest waiting for them to close.
start_wine_server() {
    local dir=$1
    WINEPREFIX="$dir/wine-prefix" wineserver -p
    "$dir/wine-run" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wine_server() {
    WINEPREFIX="$1/wine-prefix" wineserver -k 2>/dev/null || true
}
