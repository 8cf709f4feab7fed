#!/usr/bin/env bash
# Runs one test, or one table of its tests, in one build, after bringing the
# build up to date:
#   scripts/run-test.sh BUILD TEST [FILTER]
# BUILD: native, scalar, tsan (ThreadSanitizer), x86 or x64. TEST: a CTest
# name (core_tests, module_tests, help_tests, fault_tests, e2e_demo,
# version_copies, ...; "ctest -N" in the build lists them). FILTER: a
# GoogleTest filter of the tests inside it, e.g. 'Cases/FindOccurrenceTable.*'
# or 'ExpFind.*'. Under wine the run has an X server and a wine server of its
# own, as in scripts/windows-tests.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

if [ $# -lt 2 ]; then
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
build=$1 test=$2 filter=${3:-}
case "$build" in
native) configure_native; dir=$NATIVE_BUILD ;;
scalar) configure_native_scalar; dir=$SCALAR_BUILD ;;
tsan) configure_native_tsan; dir=$TSAN_BUILD ;;
x86 | x64) configure_windows "$build"; dir=$(win_build "$build") ;;
*) echo "unknown build: $build (native, scalar, tsan, x86 or x64)" >&2; exit 2 ;;
esac
cmake --build "$dir"
if [ -n "$filter" ]; then
    export GTEST_FILTER=$filter
fi
run=(ctest --output-on-failure --timeout 300 -R "^$test\$")
if [ "$build" = native ] || [ "$build" = scalar ] || [ "$build" = tsan ]; then
    cd "$dir" && exec "${run[@]}"
fi
prepare_wine_prefix "$dir"
exec xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    . scripts/common.sh
    dir=$1
    shift
    stop_wine_server "$dir"
    start_wine_server "$dir"
    status=0
    (cd "$dir" && "$@") || status=1
    stop_wine_server "$dir"
    exit $status' run-test "$dir" "${run[@]}"
