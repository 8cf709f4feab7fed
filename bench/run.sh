#!/usr/bin/env bash
# Runs every benchmark and puts Ivro beside its peers on the same inputs:
# the portable core natively (Google Benchmark), the module's exports under
# wine as the shell calls them (the 32-bit and the 64-bit module, each under
# wine of its width), and Python's unicode_escape codec, bash's
# printf and fish's string escape/unescape. Prints the table and whether each
# target is met, and writes bench/results.csv, bench/chart.png and the results
# block of bench/BENCHMARKS.md; then splits one call of @escapify into its
# parts, in each module, prints that and writes it into the breakdown block
# of bench/BENCHMARKS.md. Run it after ./test.sh (which installs the
# build tools); it installs its own peers when they are missing.
#
#   bench/run.sh [RUNS]     RUNS: timed runs per figure, the median is kept (7)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh # ROOT, PLATFORMS and the wine prefix and server helpers
RUNS=${1:-7}
NATIVE=$ROOT/build/bench
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

# The Release cross build of a platform (x86 or x64) that times its module.
bench_win() {
    case "$1" in
    x86) echo "$ROOT/build/bench-win" ;;
    x64) echo "$ROOT/build/bench-win64" ;;
    esac
}

# build_win PLATFORM: configures and builds the timing program and the module
# of a platform, and makes the build's wine prefix.
build_win() {
    local dir
    dir=$(bench_win "$1")
    [ -f "$dir/build.ninja" ] ||
        cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$(win_toolchain "$1")" \
            -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$dir" --target ivro_wine_bench >/dev/null
    prepare_wine_prefix "$dir"
}

# time_win PLATFORM: times the module's exports under the build's own wine,
# with a wine server of that prefix for the run only. The results go to
# $results (the 64-bit build names them f_exp-x64, ...), where a call of
# @escapify goes to $breakdown, and what ran them to $wine_used.
time_win() {
    local dir loader
    dir=$(bench_win "$1")
    echo "== the $1 module's exports under wine" >&2
    stop_wine_server "$dir" # one left from an interrupted run
    start_wine_server "$dir"
    (cd "$dir/bin" && "$dir/wine-run" ivro_wine_bench.exe "Z:$INPUTS" "$RUNS") | grep '^result,' >>"$results" ||
        status=1
    (cd "$dir/bin" && "$dir/wine-run" ivro_wine_bench.exe --breakdown "Z:$INPUTS" "$RUNS") |
        sed -n 's/^.*\(@escapify on\)/\1/; /^@escapify on/,$p' >>"$breakdown" || status=1
    stop_wine_server "$dir"
    loader=$(sed -n 's/^exec \([^ ]*\) .*/\1/p' "$dir/wine-run") # the wrapper's last line: exec LOADER "$@"
    wine_used+="${wine_used:+, }Ivro-$1.dll by $loader ($("$dir/wine-run" --version))"
}

echo "== building (native Release in build/bench, cross Release in build/bench-win and build/bench-win64)" >&2
[ -f "$NATIVE/build.ninja" ] ||
    cmake -S "$ROOT" -B "$NATIVE" -G Ninja -DCMAKE_BUILD_TYPE=Release -DIVRO_BENCH=ON >/dev/null
cmake --build "$NATIVE" --target ivro_native_bench >/dev/null
for platform in "${PLATFORMS[@]}"; do
    build_win "$platform"
done
trap 'for p in "${PLATFORMS[@]}"; do stop_wine_server "$(bench_win "$p")"; done' EXIT

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
breakdown=$NATIVE/breakdown.txt
: >"$breakdown"
wine_used=
for platform in "${PLATFORMS[@]}"; do
    time_win "$platform"
done
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
export IVRO_BENCH_WINE=$wine_used
$PY bench/report.py "$NATIVE/native.json" "$results" bench/results.csv bench/chart.png bench/BENCHMARKS.md
echo
echo "Where a call of @escapify goes:"
cat "$breakdown"
# The breakdown block of BENCHMARKS.md, in "Where a call of @escapify goes".
$PY - "$breakdown" bench/BENCHMARKS.md <<'END'
import re, sys
figures = open(sys.argv[1], encoding="utf-8").read().rstrip("\n")
path = sys.argv[2]
doc = open(path, encoding="utf-8").read()
block = ("<!-- breakdown: begin (bench/run.sh writes this block) -->\n```\n" + figures
         + "\n```\n<!-- breakdown: end -->")
new = re.sub(r"<!-- breakdown: begin.*?<!-- breakdown: end -->", lambda _: block, doc, flags=re.S)
if new != doc:
    open(path, "w", encoding="utf-8").write(new)
END
[ $status = 0 ] || echo "Some runner reported a problem (see above); its figures may be missing." >&2
exit $status
