# Shared by run.sh and test.sh: build folders and the configure steps.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WIN_BUILD=$ROOT/build/win
NATIVE_BUILD=$ROOT/build/native
FUZZ_BUILD=$ROOT/build/fuzz

configure_windows() {
    [ -f "$WIN_BUILD/build.ninja" ] ||
        cmake -S "$ROOT" -B "$WIN_BUILD" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686-mingw32.cmake" \
            -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}

configure_native() {
    [ -f "$NATIVE_BUILD/build.ninja" ] ||
        cmake -S "$ROOT" -B "$NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}

configure_fuzz() {
    [ -f "$FUZZ_BUILD/build.ninja" ] ||
        cmake -S "$ROOT" -B "$FUZZ_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DIVRO_FUZZ=ON >/dev/null
}

# The first wine start in a new prefix takes a while and must not race with
# itself, so the prefix is made once, before anything runs in it. Mono and
# Gecko are not wanted (and would be downloaded): they are switched off.
prepare_wine_prefix() {
    if [ ! -f "$WIN_BUILD/wine-prefix/system.reg" ]; then
        echo "Creating the wine prefix in $WIN_BUILD/wine-prefix ..." >&2
        WINEDLLOVERRIDES="mscoree,mshtml=" "$WIN_BUILD/wine-run" wineboot --init >/dev/null 2>&1 || true
        WINEPREFIX="$WIN_BUILD/wine-prefix" wineserver -w
    fi
}

# One wine server for a whole run, so that each program starts quickly. Wine's
# own background processes are started here, with nothing attached: started by
# the first test program, they would inherit its output pipes and keep CTest
# waiting for them to close.
start_wine_server() {
    export WINEPREFIX="$WIN_BUILD/wine-prefix"
    wineserver -p
    "$WIN_BUILD/wine-run" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wine_server() {
    WINEPREFIX="$WIN_BUILD/wine-prefix" wineserver -k 2>/dev/null || true
}
