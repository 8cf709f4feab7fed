#!/usr/bin/env bash
# Counts the instructions of one core routine on one benchmark input with
# callgrind, in an optimised build with debug information (build/bench-prof),
# and shows where they go. Run bench/run.sh first: it writes the inputs.
#
#   bench/profile.sh IMPL INPUT-UNITS [CALLS] [callgrind_annotate options]
#   bench/profile.sh ExpandEscapes dense-1024
#   bench/profile.sh Escapify plain-8191 200 --auto=yes   (per source line)
#
# IMPL: ExpandEscapes, Escapify, Escapify-1 (flag 1) or SplitArgs. Figures are for all CALLS calls
# (default 1000) together; divide by CALLS for one call.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 2 ] || { sed -n '2,12p' "$0" >&2; exit 2; }
impl=$1 input=$2 calls=${3:-1000}
shift $(($# < 3 ? $# : 3))
PROF=build/bench-prof
command -v valgrind >/dev/null || {
    sudo=; [ "$(id -u)" = 0 ] || sudo=sudo
    $sudo apt-get install -y -qq --no-install-recommends valgrind >/dev/null
}
[ -f "$PROF/build.ninja" ] ||
    cmake -S . -B "$PROF" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g -DIVRO_BENCH=ON >/dev/null
cmake --build "$PROF" --target ivro_native_bench >/dev/null
out=$PROF/callgrind.$impl.${input//\//-}.out
valgrind --tool=callgrind --callgrind-out-file="$out" \
    "$PROF/bench/ivro_native_bench" --loop "$impl" "build/bench/inputs/$input.u16" "$calls" 2>&1 | grep -E "calls|Collected"
callgrind_annotate --inclusive=yes "$@" "$out" | head -60
