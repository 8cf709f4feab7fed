#!/usr/bin/env bash
# Runs every benchmark and puts Ivro beside its peers on the same inputs:
# the portable core natively, the module's exports under wine as the shell
# calls them (the 32-bit and the 64-bit module, each under wine of its
# width), and Python's unicode_escape codec, bash's printf and fish's string
# escape/unescape, each in a process that serves timed runs, which
# bench/side_by_side.py takes in alternation, Ivro's and a peer's one right
# after the other. Prints the table and whether each target is met, and
# writes bench/results.csv, bench/chart.png, the results and processors
# blocks of bench/BENCHMARKS.md and the table of README.md's Benchmarks;
# then splits one call of @escapify into its
# parts, in each module, prints that and writes it into the breakdown block
# of bench/BENCHMARKS.md. Run it after ./test.sh (which installs the
# build tools); it installs its own peers when they are missing.
#
#   bench/run.sh [RUNS]     RUNS: rounds of timed runs, the median is kept (25)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh # ROOT, PLATFORMS and the wine prefix and server helpers
RUNS=${1:-25}
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

# breakdown_win PLATFORM: where a call of @escapify goes in the platform's
# module (appended to $breakdown), and which wine ran it (to $wine_used).
breakdown_win() {
    local dir loader
    dir=$(bench_win "$1")
    (cd "$dir/bin" && "$dir/wine-run" ivro_wine_bench.exe --breakdown "Z:$INPUTS" 7) |
        sed -n 's/^.*\(@escapify on\)/\1/; /^@escapify on/,$p' >>"$breakdown" || status=1
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
# The longest prefix of each long text whose escaped form fits, under the
# flags the text is escaped with.
fits=()
while read -r name flags; do
    fits+=("$name:$flags=$("$NATIVE/bench/ivro_native_bench" --fit "$INPUTS/$name-8191.u16" "$flags")")
done <"$INPUTS/fits.txt"
$PY bench/inputs.py "$INPUTS" "${fits[@]}"

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
results=$NATIVE/results.txt
status=0
# From here on this script and all it starts, the wine servers and the
# runners included, keep to one processor (the last), so that the two sides
# of a ratio always run on the same one: the processors of a virtual machine
# need not run at the same speed.
taskset -cp "$(($(nproc) - 1))" $$ >/dev/null
for platform in "${PLATFORMS[@]}"; do
    dir=$(bench_win "$platform")
    stop_wine_server "$dir" # one left from an interrupted run
    start_wine_server "$dir"
done
# Every runner serves timed runs on request; side_by_side.py alternates them.
runners=(native "\"$NATIVE/bench/ivro_native_bench\" --serve \"$INPUTS\"")
for platform in "${PLATFORMS[@]}"; do
    dir=$(bench_win "$platform")
    runners+=("$platform" "cd \"$dir/bin\" && \"$dir/wine-run\" ivro_wine_bench.exe --serve \"Z:$INPUTS\"")
done
runners+=(python "$PY bench/peers.py --serve \"$INPUTS\""
    bash "bash bench/peers.bash --serve \"$INPUTS\""
    fish "fish bench/peers.fish \"$INPUTS\" serve \"$NATIVE/fish-time.txt\" 2>\"$NATIVE/fish-time.txt\"")
$PY bench/side_by_side.py "$RUNS" "$results" "${runners[@]}" || status=1
breakdown=$NATIVE/breakdown.txt
: >"$breakdown"
wine_used=
for platform in "${PLATFORMS[@]}"; do
    breakdown_win "$platform"
    stop_wine_server "$(bench_win "$platform")"
done
echo >&2

export IVRO_BENCH_LOAD="before $load_before, after $(cut -d' ' -f1-3 /proc/loadavg)"
export IVRO_BENCH_WINE=$wine_used
$PY bench/report.py "$results" bench/results.csv bench/chart.png bench/BENCHMARKS.md README.md
cp bench/chart.png docs/images/benchmarks.png # the README's picture
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
