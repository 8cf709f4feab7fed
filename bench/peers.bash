#!/usr/bin/env bash
# bash's printf on the benchmark inputs, in one process.
#
#   peers.bash DIR [RUNS]
#   peers.bash --serve DIR
#
# bash-printf-b: printf -v v %b "$s" (expands escapes); bash-printf-q:
# printf -v v %q "$s" (quotes for reuse as shell input). The input is read
# whole into s (UTF-8, in a UTF-8 locale: ${#s} counts characters). Calls per
# run are doubled until a run takes 20 ms; RUNS rounds (default 5) time one
# run of every case each, and the median run is printed:
#
#   result,IMPL,INPUT,UNITS,NS_PER_CALL,CALLS_PER_RUN,CHARS
#
# --serve checks the cases the same way and then follows the protocol of
# bench/side_by_side.py: "case K IMPL INPUT UNITS" for each case and "ready";
# each line "run K CALLS" is answered with "took NS", until "quit".
set -u
serve=0
if [ "$1" = --serve ]; then
    serve=1
    shift
fi
dir=$1
runs=${2:-5}
status=0

# Microseconds taken by $2 calls of printf -v v $1 "$s".
run() {
    local fmt=$1 calls=$2 i t0 t1
    t0=${EPOCHREALTIME//./}
    for ((i = 0; i < calls; i++)); do printf -v v "$fmt" "$s"; done
    t1=${EPOCHREALTIME//./}
    elapsed=$((10#$t1 - 10#$t0))
}

names=() fmts=() texts=() calls=() times=()
while read -r impl input units name; do
    case $impl in
    bash-printf-b) fmt=%b ;;
    bash-printf-q) fmt=%q ;;
    *) continue ;;
    esac
    IFS= read -r -d '' s <"$dir/$name.txt" || true
    if [ "$impl" = bash-printf-b ] && [ -f "$dir/$name.expect.txt" ]; then
        IFS= read -r -d '' expect <"$dir/$name.expect.txt" || true
        printf -v v %b "$s"
        if [ "$v" != "$expect" ]; then
            echo "$impl $name: another text than expected" >&2
            status=1
        fi
    fi
    n=1
    ((serve)) || while run "$fmt" $n; ((elapsed < 20000)); do n=$((n * 2)); done
    names+=("$impl,$input,$units") fmts+=("$fmt") texts+=("$s") calls+=($n) times+=("")
done <"$dir/cases-peers.txt"

if ((serve)); then
    ((status == 0)) || exit $status
    for k in "${!names[@]}"; do
        IFS=, read -r impl input units <<<"${names[k]}"
        echo "case $k $impl $input $units"
    done
    echo ready
    while read -r word k n && [ "$word" = run ]; do
        s=${texts[k]}
        run "${fmts[k]}" "$n"
        echo "took $((elapsed * 1000))"
    done
    exit 0
fi

# The runs of all cases interleaved, so that a burst of noise on the machine
# hits every case alike rather than all the runs of one.
for ((r = 0; r < runs; r++)); do
    for k in "${!names[@]}"; do
        s=${texts[k]}
        run "${fmts[k]}" "${calls[k]}"
        times[k]+=" $elapsed"
    done
done

for k in "${!names[@]}"; do
    median=$(printf '%s\n' ${times[k]} | sort -n | sed -n "$((runs / 2 + 1))p")
    # microseconds per run -> nanoseconds per call, one decimal
    ns10=$((median * 10000 / calls[k]))
    s=${texts[k]}
    echo "result,${names[k]},$((ns10 / 10)).$((ns10 % 10)),${calls[k]},${#s}"
done
exit $status
