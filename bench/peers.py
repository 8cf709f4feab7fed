#!/usr/bin/python3
"""Python's unicode_escape codec on the benchmark inputs, in one process.

    peers.py DIR [RUNS]
    peers.py --serve DIR

python-decode: codecs.decode(b, 'unicode_escape') on the input's bytes (the
decode inputs are ASCII, so one byte per UTF-16 unit); python-encode:
codecs.encode(s, 'unicode_escape') on the input as a str (a character beyond
U+FFFF is one item of the str, two UTF-16 units). Calls per run are doubled
until a run takes 20 ms; RUNS rounds (default 5) time one run of every case
each, and the median run is printed:

    result,IMPL,INPUT,UNITS,NS_PER_CALL,CALLS_PER_RUN,CHARS

--serve checks the cases the same way and then follows the protocol of
bench/side_by_side.py: "case K IMPL INPUT UNITS" for each case and "ready";
each line "run K CALLS" is answered with "took NS", until "quit".
"""

import codecs
import os
import statistics
import sys
import time
import timeit


def main():
    serve = len(sys.argv) > 1 and sys.argv[1] == "--serve"
    args = sys.argv[2:] if serve else sys.argv[1:]
    directory = args[0]
    runs = int(args[1]) if len(args) > 1 else 5
    status = 0
    with open(os.path.join(directory, "cases-peers.txt")) as f:
        cases = [line.split() for line in f if line.strip()]
    timed = []
    for impl, inp, units, name in cases:
        if not impl.startswith("python-"):
            continue
        base = os.path.join(directory, name)
        with open(base + ".txt", encoding="utf-8", newline="") as f:
            text = f.read()
        if impl == "python-decode":
            arg = text.encode("ascii")
            stmt = "decode(x, 'unicode_escape')"
            env = {"decode": codecs.decode, "x": arg}
            expect_path = base + ".expect.txt"
            if os.path.exists(expect_path):
                with open(expect_path, encoding="utf-8", newline="") as f:
                    if codecs.decode(arg, "unicode_escape") != f.read():
                        print(f"{impl} {name}: another text than expected", file=sys.stderr)
                        status = 1
        else:
            arg = text
            stmt = "encode(x, 'unicode_escape')"
            env = {"encode": codecs.encode, "x": arg}
        timer = timeit.Timer(stmt, globals=env, timer=time.perf_counter_ns)
        if serve:
            timed.append((impl, inp, units, len(text), timer, 0, []))
            continue
        calls = 1
        while timer.timeit(calls) < 20_000_000:
            calls *= 2
        timed.append((impl, inp, units, len(text), timer, calls, []))
    if serve:
        if status:
            return status
        for k, (impl, inp, units, *_rest) in enumerate(timed):
            print(f"case {k} {impl} {inp} {units}")
        print("ready", flush=True)
        for line in sys.stdin:
            p = line.split()
            if len(p) != 3 or p[0] != "run":
                break
            print(f"took {timed[int(p[1])][4].timeit(int(p[2]))}", flush=True)
        return 0
    # The runs of all cases interleaved, so that a burst of noise on the
    # machine hits every case alike rather than all the runs of one.
    for _ in range(runs):
        for impl, inp, units, chars, timer, calls, per_call in timed:
            per_call.append(timer.timeit(calls) / calls)
    for impl, inp, units, chars, timer, calls, per_call in timed:
        print(f"result,{impl},{inp},{units},{statistics.median(per_call):.1f},{calls},{chars}", flush=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
