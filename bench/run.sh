#!/usr/bin/env bash
# Runs every benchmark and puts Ivro beside its peers on the same inputs:
# the portable core natively (Google Benchmark), the module's exports under
# wine as the shell calls them, and Python's unicode_escape codec, bash's
# printf and fish's string escape/unescape. Prints the table and whether each
# target is met, and writes bench/results.csv, bench/chart.png and the results
# block of bench/BENCHMARKS.md. Run it after ./test.sh (which installs the
# build tools); it installs its own peers when they are missing.
#
#   bench/run.sh [RUNS]     RUNS: timed runs per figure, the median is kept (7)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
RUNS=${1:-7}
NATIVE=$ROOT/build/bench
WIN=$ROOT/build/bench-win
INPUTS=$NATIVE/inputs
PY=/usr/bin/python3 # Debian's, whatever else is on PATH

# Same text and settings for every runner.
export LC_ALL=C.UTF-8
unset Ivro_Chars Ivro_Flags

missing=()
for p in fish python3-matplotlib libbenchmark-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=
    [ "$(id -u)" = 0 ] || sudo=sudo
    echo "Installing: ${missing[*]}" >&2
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

echo "== building (native Release in build/bench, cross Release in build/bench-win)" >&2
[ -f "$NATIVE/build.ninja" ] ||
    cmake -S "$ROOT" -B "$NATIVE" -G Ninja -DCMAKE_BUILD_TYPE=Release -DIVRO_BENCH=ON >/dev/null
cmake --build "$NATIVE" --target ivro_native_bench >/dev/null
[ -f "$WIN/build.ninja" ] ||
    cmake -S "$ROOT" -B "$WIN" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686-mingw32.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$WIN" --target ivro_wine_bench >/dev/null

export WINEPREFIX=$WIN/wine-prefix
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the wine prefix in $WINEPREFIX ..." >&2
    WINEDLLOVERRIDES="mscoree,mshtml=" "$WIN/wine-run" wineboot --init >/dev/null 2>&1 || true
    wineserver -w
fi
wineserver -p 2>/dev/null || true # persistent for this run; already running is fine
trap 'wineserver -k 2>/dev/null || true' EXIT

echo "== inputs in $INPUTS" >&2
rm -rf "$INPUTS"
$PY bench/inputs.py "$INPUTS"
fit=$("$NATIVE/bench/ivro_native_bench" --fit "$INPUTS/special-8191.u16")
$PY bench/inputs.py "$INPUTS" --special-fit "$fit"

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
results=$NATIVE/results.txt
: >"$results"
status=0
echo "== native core (Google Benchmark)" >&2
"$NATIVE/bench/ivro_native_bench" "$INPUTS" --benchmark_min_time=0.05 --benchmark_min_warmup_time=0.02 \
    --benchmark_repetitions="$RUNS" --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true \
    --benchmark_out="$NATIVE/native.json" --benchmark_out_format=json >"$NATIVE/native.log" 2>&1 || status=1
grep -q ERROR "$NATIVE/native.log" && { grep ERROR "$NATIVE/native.log" >&2; status=1; }
echo "== the module's exports under wine" >&2
(cd "$WIN/bin" && "$WIN/wine-run" ivro_wine_bench.exe "Z:$INPUTS" "$RUNS") | grep '^result,' >>"$results" || status=1
echo "== Python" >&2
$PY bench/peers.py "$INPUTS" "$RUNS" >>"$results" || status=1
echo "== bash" >&2
bash bench/peers.bash "$INPUTS" "$RUNS" >>"$results" || status=1
echo "== fish" >&2
fish bench/peers.fish "$INPUTS" "$RUNS" "$NATIVE/fish-time.txt" >"$NATIVE/fish.txt" 2>"$NATIVE/fish-time.txt" || status=1
grep '^result,' "$NATIVE/fish.txt" >>"$results" || status=1
grep -v '^result,' "$NATIVE/fish.txt" >&2 && status=1
echo >&2

export IVRO_BENCH_LOAD="before $load_before, after $(cut -d' ' -f1-3 /proc/loadavg)"
$PY bench/report.py "$NATIVE/native.json" "$results" bench/results.csv bench/chart.png bench/BENCHMARKS.md
[ $status = 0 ] || echo "Some runner reported a problem (see above); its figures may be missing." >&2
exit $status
