# fish's string unescape and string escape on the benchmark inputs, in one
# process.
#
#   fish peers.fish DIR RUNS TIMEFILE 2>TIMEFILE
#   fish peers.fish DIR serve TIMEFILE 2>TIMEFILE
#
# fish-unescape: set v (string unescape -- $s); fish-escape:
# set v (string escape -- $s). The input is read whole into s (UTF-8; string
# length counts characters). Calls per run are doubled until a run takes
# 20 ms; RUNS rounds time one run of every case each, and the
# median run is printed:
#
#   result,IMPL,INPUT,UNITS,NS_PER_CALL,CALLS_PER_RUN,CHARS
#
# and a text that does not expand as expected as a line "error: ...".
#
# With serve for RUNS it follows the protocol of bench/side_by_side.py after
# the same checks: "case K IMPL INPUT UNITS" for each case and "ready"; each
# line "run K CALLS" is answered with "took NS", until "quit".
set -l dir $argv[1]
set -l runs $argv[2]
set -g timefile $argv[3]
set -l status_code 0

# Sets elapsed to the nanoseconds taken by $argv[2] calls of
# string $argv[1] -- $s. The clock is fish's own time keyword, which reports
# on fish's standard error: the script runs with its standard error sent to
# the file $timefile and reads the report back from there (date, an outside
# program, would add its start to each run, and this machine shows its
# results in steps of 4 ms). Not to be called inside a command substitution,
# where the report comes out late.
function run -a op calls
    set -l range (seq $calls)
    if test $op = unescape
        time for i in $range
            set v (string unescape -- $s)
        end
    else
        time for i in $range
            set v (string escape -- $s)
        end
    end
    set -l m (string match -r 'Executed in +([0-9.]+) (\S+)' <$timefile)
    set -l scale 60e9
    switch $m[-1]
        case micros
            set scale 1e3
        case millis
            set scale 1e6
        case secs
            set scale 1e9
    end
    set -g elapsed (math "$m[-2] * $scale")
end

set -l names
set -l ops
set -l files
set -l calls
for line in (cat $dir/cases-peers.txt)
    set -l f (string split ' ' -- $line)
    set -l op
    switch $f[1]
        case fish-unescape
            set op unescape
        case fish-escape
            set op escape
        case '*'
            continue
    end
    read -z -g s <$dir/$f[4].txt
    if test $op = unescape; and test -f $dir/$f[4].expect.txt
        read -z -l expect <$dir/$f[4].expect.txt
        # Both printed with a line end behind, as string unescape prints.
        set -l v (string unescape -- $s | string collect -N)
        set -l w (printf '%s\n' $expect | string collect -N)
        if test "$v" != "$w"
            echo "error: $f[1] $f[4]: another text than expected"
            set status_code 1
        end
    end
    set -l n 1
    while test "$runs" != serve
        run $op $n
        test $elapsed -ge 20000000; and break
        set n (math "$n * 2")
    end
    set -a names "$f[1],$f[2],$f[3]"
    set -a ops $op
    set -a files $dir/$f[4].txt
    set -a calls $n
end

if test "$runs" = serve
    test $status_code = 0; or exit $status_code
    for k in (seq (count $names))
        echo "case "(math $k - 1)" "(string replace -a , ' ' -- $names[$k])
    end
    echo ready
    while read -l word k n
        test "$word" = run; or break
        set k (math $k + 1)
        read -z -g s <$files[$k]
        run $ops[$k] $n
        echo "took "(math -s0 $elapsed)
    end
    exit 0
end

# The runs of all cases interleaved, so that a burst of noise on the machine
# hits every case alike rather than all the runs of one. The runs of case k
# are kept in the list times_k.
for r in (seq $runs)
    for k in (seq (count $names))
        read -z -g s <$files[$k]
        set -l var times_$k
        run $ops[$k] $calls[$k]
        set -g $var $$var $elapsed
    end
end

for k in (seq (count $names))
    read -z -g s <$files[$k]
    set -l var times_$k
    set -l median (printf '%s\n' $$var | sort -n | sed -n (math "floor($runs / 2) + 1")p)
    echo "result,$names[$k],"(math -s1 "$median / $calls[$k]")",$calls[$k],"(string length -- $s)
end
exit $status_code
