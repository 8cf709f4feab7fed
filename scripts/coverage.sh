#!/usr/bin/env bash
# A coverage map of the shipped code (plugin/, escape/, functions/): which of
# its lines and branches the tests run. Two instrumented builds of their own,
# beside the ordinary ones:
#   build/coverage-native  the portable core, its unit tests natively (no
#                          sanitizers);
#   build/coverage-win     the 32-bit module and everything test.sh runs under
#                          wine, tested the same way, in an X server.
# The counts of both are read with the gcov of their own compiler, merged,
# printed per file (lines, then branches) and written as HTML to
# build/coverage/index.html. Not part of test.sh: a few minutes.
#
# Only the objects that make up the shipped code are read: the module and the
# core library, and their twins in the module's test build (tests/faults),
# which the fault tests and the Windows core tests run. Code of the
# shipped headers that only test programs compile in is not counted.
#
# The module under wine writes its counts to the absolute Linux paths compiled
# into it: wine's drive Z: is the Linux root, so they land beside the notes
# files as they do natively. The script checks that they did.
#
# A failing test does not stop the map: the failures are listed and the map
# is made from what ran. The script fails when a build fails or the counts
# are missing.
#   scripts/coverage.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

COV_NATIVE=$ROOT/build/coverage-native
COV_WIN=$ROOT/build/coverage-win
COV_OUT=$ROOT/build/coverage
# The shipped sources, relative to the root.
COV_FILTER='(plugin|escape|functions)/'

# Inner step, run inside xvfb-run: the Windows tests with a wine server of
# their own started in the X server, as scripts/windows-tests.sh does. Its
# status is CTest's.
if [ "${1:-}" = --windows-tests ]; then
    trap 'stop_wine_server "$COV_WIN"' EXIT
    stop_wine_server "$COV_WIN"
    start_wine_server "$COV_WIN"
    cd "$COV_WIN"
    ctest --output-on-failure --timeout 300 -j2
    exit
fi

start=$SECONDS
scripts/install-deps.sh
mkdir -p "$COV_OUT"

# build NAME DIR: builds DIR, its output kept in build/coverage/NAME-build.log
# and shown only when the build fails.
build() {
    local log=$COV_OUT/$1-build.log
    if ! cmake --build "$2" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "coverage: the $1 build failed (whole output in $log)" >&2
        exit 1
    fi
}

# ctest_failures DIR: the names of the tests that failed in the last run.
ctest_failures() {
    local f=$1/Testing/Temporary/LastTestsFailed.log
    [ -f "$f" ] && cut -d: -f2- "$f" | tr '\n' ' '
    return 0
}

# -O0 for counts that follow the source lines; counters updated atomically,
# as the core's tests call Escapify from several threads at once (plain
# increments lose counts there, and gcov then reads negative ones). The flags
# go into the Debug configuration's variables, so that the toolchain files'
# own flags (-msse2 for x86) stay as they are.
coverage_flags=(
    -DCMAKE_BUILD_TYPE=Debug
    "-DCMAKE_C_FLAGS_DEBUG=-g -O0 --coverage -fprofile-update=atomic"
    "-DCMAKE_CXX_FLAGS_DEBUG=-g -O0 --coverage -fprofile-update=atomic"
    -DCMAKE_EXE_LINKER_FLAGS_DEBUG=--coverage
    -DCMAKE_SHARED_LINKER_FLAGS_DEBUG=--coverage
)

echo "== native: the core's unit tests ($COV_NATIVE)"
cmake -S "$ROOT" -B "$COV_NATIVE" -G Ninja "${coverage_flags[@]}" -DIVRO_SANITIZE=OFF >/dev/null
build native "$COV_NATIVE"
find "$COV_NATIVE" -name '*.gcda' -delete
native_status=0
(cd "$COV_NATIVE" && ctest --output-on-failure --timeout 300) || native_status=$?

echo "== Windows x86: the module and its tests under wine ($COV_WIN)"
cmake -S "$ROOT" -B "$COV_WIN" -G Ninja "${coverage_flags[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$(win_toolchain x86)" >/dev/null
build windows "$COV_WIN"
cmake --build "$COV_WIN" --target dist >/dev/null # the archive test reads it
prepare_wine_prefix "$COV_WIN"
if [ "$(readlink "$COV_WIN/wine-prefix/dosdevices/z:")" != / ]; then
    echo "coverage: drive Z: of $COV_WIN/wine-prefix is not /; the module's counts would go astray" >&2
    exit 1
fi
find "$COV_WIN" -name '*.gcda' -delete
windows_status=0
xvfb-run -a -s "-screen 0 1280x1024x24" "$ROOT/scripts/coverage.sh" --windows-tests || windows_status=$?

# The counts must lie beside the notes files. Every object of the module is
# in the module, so each must have counts; an object of the core that no
# program links in has none.
missing=()
for dir in "$COV_WIN/CMakeFiles/ivro.dir" "$COV_WIN/CMakeFiles/ivro_core.dir" \
           "$COV_NATIVE/CMakeFiles/ivro_core.dir"; do
    notes=0
    counts=0
    while IFS= read -r gcno; do
        notes=$((notes + 1))
        if [ -f "${gcno%.gcno}.gcda" ]; then
            counts=$((counts + 1))
        else
            missing+=("${gcno#"$ROOT"/}")
        fi
    done < <(find "$dir" -name '*.gcno')
    echo "counts beside the notes: $counts of $notes in ${dir#"$ROOT"/}"
    if [ "$counts" = 0 ]; then
        echo "coverage: no counts were written in $dir" >&2
        exit 1
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    printf 'no counts (not linked into any program that ran): %s\n' "${missing[@]}"
fi
for gcno in "${missing[@]}"; do
    case "$gcno" in
    */ivro.dir/*)
        echo "coverage: the module wrote no counts for $gcno" >&2
        exit 1 ;;
    esac
done
strays=$(find "$COV_WIN/wine-prefix/drive_c" -name '*.gcda' | head -n 5)
if [ -n "$strays" ]; then
    echo "coverage: counts written inside the wine prefix instead:" >&2
    echo "$strays" >&2
    exit 1
fi

# tracefile JSON GCOV BUILD OBJDIR...: the counts of the given object folders
# as a gcovr tracefile. gcov runs in the build folder, where the compiler ran,
# and leaves its working files there.
tracefile() {
    local json=$1 gcov=$2 build=$3
    shift 3
    (cd "$ROOT" && gcovr --root "$ROOT" --filter "$COV_FILTER" --object-directory "$build" \
        --gcov-executable "$gcov" --exclude-throw-branches -j 2 --json "$json" "$@")
}
rm -f "$COV_OUT"/*.json
tracefile "$COV_OUT/native.json" gcov "$COV_NATIVE" "$COV_NATIVE/CMakeFiles/ivro_core.dir"
tracefile "$COV_OUT/windows.json" i686-w64-mingw32-gcov "$COV_WIN" \
    "$COV_WIN/CMakeFiles/ivro.dir" "$COV_WIN/CMakeFiles/ivro_core.dir"
# The module's test build is read on its own: its escape/scratch.cpp defines
# the allocator's functions on other lines than the shipped one does, and
# gcovr 5.2 cannot merge a function found on two lines within one reading.
tracefile "$COV_OUT/windows-faulttest.json" i686-w64-mingw32-gcov "$COV_WIN" \
    "$COV_WIN/tests/faults/CMakeFiles/ivro_faulttest.dir" \
    "$COV_WIN/tests/faults/CMakeFiles/ivro_core_alloctest.dir"

# For the same reason across tracefiles: a function that lies on different
# lines in different builds is named with its line. Lines and branches are
# merged by line number and need nothing.
python3 - "$COV_OUT"/native.json "$COV_OUT"/windows.json "$COV_OUT"/windows-faulttest.json <<'EOF'
import json, sys
from collections import defaultdict
traces = {path: json.load(open(path)) for path in sys.argv[1:]}
lines = defaultdict(set)
for trace in traces.values():
    for f in trace["files"]:
        for fn in f["functions"]:
            lines[f["file"], fn["name"]].add(fn["lineno"])
for path, trace in traces.items():
    for f in trace["files"]:
        for fn in f["functions"]:
            if len(lines[f["file"], fn["name"]]) > 1:
                fn["name"] = "%s (line %d)" % (fn["name"], fn["lineno"])
    with open(path, "w") as out:
        json.dump(trace, out)
EOF

merged=(--add-tracefile "$COV_OUT/native.json" --add-tracefile "$COV_OUT/windows.json"
        --add-tracefile "$COV_OUT/windows-faulttest.json")
report() {
    (cd "$ROOT" && gcovr --root "$ROOT" --filter "$COV_FILTER" "${merged[@]}" "$@")
}
rm -f "$COV_OUT"/*.html "$COV_OUT"/*.css
echo
echo "== lines, native and Windows together"
report --txt --json "$COV_OUT/coverage.json" \
    --html-details "$COV_OUT/index.html" --html-title "Ivro: coverage of the shipped code"
echo
echo "== branches, native and Windows together"
report --txt --branches

# Each shipped folder must have counted lines, and the module's own files are
# only ever run under wine.
python3 - "$COV_OUT/coverage.json" <<'EOF'
import json, sys
files = json.load(open(sys.argv[1]))["files"]
for folder in ("plugin/", "escape/", "functions/"):
    covered = sum(1 for f in files if f["file"].startswith(folder)
                  for l in f["lines"] if not l["gcovr/noncode"] and l["count"] > 0)
    if covered == 0:
        sys.exit("coverage: no line of %s ran" % folder)
EOF

failed=0
if [ "$native_status" != 0 ]; then
    echo "native tests failed under coverage: $(ctest_failures "$COV_NATIVE")"
    failed=1
fi
if [ "$windows_status" != 0 ]; then
    echo "Windows tests failed under coverage: $(ctest_failures "$COV_WIN")"
    failed=1
fi
[ "$failed" = 0 ] && echo "all tests passed in the coverage builds"
echo
echo "HTML report: $COV_OUT/index.html"
echo "took $((SECONDS - start)) s"
