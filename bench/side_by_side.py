#!/usr/bin/python3
"""Times Ivro and its peers side by side, in alternation.

    side_by_side.py ROUNDS RESULTS NAME COMMAND [NAME COMMAND]...

Each COMMAND (run by bash) starts a runner that serves timed runs: the
native core (ivro_native_bench --serve), each module under its wine
(ivro_wine_bench.exe --serve), Python, bash and fish (bench/peers.*). A
runner prints "case K IMPL INPUT UNITS" for each of its cases and "ready",
then answers each line "run K CALLS" with "took NS", the nanoseconds that
CALLS calls of case K took, until "quit".

A comparison is two cases: an Ivro call and a peer on the same input and size
(Python, bash, fish, or memcpy of the same bytes); the same Ivro call on 8191
and on 1024 units; an export of the 32-bit module beside the same export of
the 64-bit one (f_exp and f_exp-x64, f_escapify and f_escapify-x64) on the
same input and size; Escapify beside ExpandEscapes on 16 units of plain
text, what a call of each costs when there is next to nothing to do; or
Escapify on a text of another script beside plain text of the same length. In every
round each comparison times short runs of its two cases in turn, RUNS_PER_SIDE
of each (the first of the two alternating from round to round), and takes the
ratio of the shortest run of each side: a burst of noise on the machine lands
on both sides of a ratio, or on neither, not on one. Runs are calibrated first
to take about RUN_MS each.

RESULTS gets, for each case, the median over the rounds of its time per call
(the shortest of the round's runs):

    result,IMPL,INPUT,UNITS,NS_PER_CALL

the scan path a runner reports (the native core's),

    path,RUNNER,PATH

and for each comparison the median of its rounds' ratios and their spread,
the middle half of them (from the lower to the upper quartile), followed by
every round's ratio:

    ratio,IMPL,INPUT,UNITS,PEER_IMPL,PEER_INPUT,PEER_UNITS,MEDIAN,LOW,HIGH,ROUNDS,R1 R2 ...
"""

import statistics
import subprocess
import sys
import time

RUN_MS = 2  # length of one timed run
# Runs of each side in a round, taken in turn (A B A B A B); the shortest of
# each side's runs is its time in that round. Anything else on the machine
# only adds time to a run, so the shortest is the least disturbed.
RUNS_PER_SIDE = 3
SMALL, BIG = 1024, 8191

# Which peers an Ivro call is compared with, by its task.
EXPAND = ("ExpandEscapes", "f_exp")
ESCAPE = ("Escapify", "Escapify-1", "f_escapify")
PEERS = {
    EXPAND: ("python-decode", "bash-printf-b", "fish-unescape", "memcpy"),
    ESCAPE: ("python-encode", "bash-printf-q", "fish-escape", "memcpy"),
}
IVRO = ("ExpandEscapes", "Escapify", "Escapify-1", "SplitArgs", "f_exp", "f_escapify", "f_expfind", "f_expreplace", "f_expcmp")
X64 = "-x64"
# The exports timed in the 32-bit module beside the 64-bit one.
ACROSS_MODULES = ("f_exp", "f_escapify")
# Two Ivro calls on the same text.
SAME_TEXT = [(("Escapify", "plain", 16), ("ExpandEscapes", "plain", 16))]
# Texts of other scripts that Escapify leaves as they are under flag 0 (but
# for the pairs of emoji), timed beside plain ASCII text of the same length.
BESIDE_PLAIN = ("cyrillic", "cjk", "latin", "emoji")


def export_of(impl):
    return impl[:-len(X64)] if impl.endswith(X64) else impl


class Runner:
    def __init__(self, name, command):
        self.name = name
        self.process = subprocess.Popen(["bash", "-c", command], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True, bufsize=1)
        self.cases = {}
        self.path = None  # the scan path the native core reports
        for line in self.process.stdout:
            words = line.split()
            if len(words) == 2 and words[0] == "path":
                self.path = words[1]
            elif len(words) == 5 and words[0] == "case":
                self.cases[(words[2], words[3], int(words[4]))] = int(words[1])
            elif words == ["ready"]:
                break
        else:
            raise RuntimeError(f"the {name} runner ended before it was ready")

    def run(self, k, calls):
        self.process.stdin.write(f"run {k} {calls}\n")
        self.process.stdin.flush()
        line = self.process.stdout.readline()
        if not line.startswith("took "):
            raise RuntimeError(f"the {self.name} runner answered {line!r}")
        return float(line.split()[1])

    def close(self):
        try:
            self.process.stdin.write("quit\n")
            self.process.stdin.close()
        except OSError:
            pass
        self.process.wait()


def spread(values):
    """The lower and the upper quartile: the middle half of the rounds."""
    if len(values) < 2:
        return values[0], values[0]
    q = statistics.quantiles(values, n=4, method="inclusive")
    return q[0], q[2]


def comparisons(cases):
    """(case, peer case) pairs: each Ivro call beside its peers on the same
    input and units, its call on the larger size beside the 1024-unit one,
    each export of ACROSS_MODULES in the 32-bit module beside the 64-bit one,
    and the pairs of SAME_TEXT."""
    pairs = []
    for key in sorted(cases):
        impl, inp, units = key
        export = export_of(impl)
        if export not in IVRO:
            continue
        peers = next((p for task, p in PEERS.items() if export in task), ("memcpy",))
        for peer in peers:
            pk = (peer, inp, units)
            if peer == "memcpy" and pk not in cases:  # memcpy costs the same on any text of this length
                pk = ("memcpy", "plain", units)
            if pk in cases:
                pairs.append((key, pk))
        sizes = sorted(u for (i, n, u) in cases if i == impl and n == inp)
        if units == SMALL and len(sizes) > 1:
            pairs.append(((impl, inp, max(sizes)), key))
        if impl in ACROSS_MODULES and (impl + X64, inp, units) in cases:
            pairs.append((key, (impl + X64, inp, units)))
        if impl == "Escapify" and inp in BESIDE_PLAIN and ("Escapify", "plain", units) in cases:
            pairs.append((key, ("Escapify", "plain", units)))
    pairs += [pair for pair in SAME_TEXT if pair[0] in cases and pair[1] in cases]
    return pairs


def main():
    rounds = int(sys.argv[1])
    results = sys.argv[2]
    specs = sys.argv[3:]
    runners = []
    cases = {}  # (impl, input, units) -> (runner, k)
    try:
        for name, command in zip(specs[::2], specs[1::2]):
            print(f"== starting the {name} runner", file=sys.stderr, flush=True)
            runner = Runner(name, command)
            runners.append(runner)
            for key, k in runner.cases.items():
                cases[key] = (runner, k)

        # Calls per run: doubled until a run takes RUN_MS.
        calls = {}
        for key, (runner, k) in cases.items():
            n = 1
            while runner.run(k, n) < RUN_MS * 1e6 and n < 1 << 24:
                n *= 2
            calls[key] = n

        pairs = comparisons(cases)
        # The cases in no comparison (a peer on a text Ivro cannot escape
        # within 8191 units) are timed once a round for the table.
        paired = {key for pair in pairs for key in pair}
        alone = [key for key in sorted(cases) if key not in paired]
        per_call = {key: [] for key in cases}
        ratios = {pair: [] for pair in pairs}
        started = time.monotonic()
        print(f"== {len(pairs)} comparisons, {rounds} rounds", file=sys.stderr, flush=True)
        for r in range(rounds):
            for pair in pairs:
                times = {key: [] for key in pair}
                for _ in range(RUNS_PER_SIDE):
                    for key in (pair if r % 2 == 0 else pair[::-1]):
                        runner, k = cases[key]
                        times[key].append(runner.run(k, calls[key]) / calls[key])
                least = {key: min(t) for key, t in times.items()}
                for key in pair:
                    per_call[key].append(least[key])
                ratios[pair].append(least[pair[0]] / least[pair[1]])
            for key in alone:
                runner, k = cases[key]
                per_call[key].append(min(runner.run(k, calls[key]) / calls[key] for _ in range(RUNS_PER_SIDE)))
        print(f"== {time.monotonic() - started:.0f} s of rounds", file=sys.stderr, flush=True)
    finally:
        for runner in runners:
            runner.close()

    with open(results, "w") as f:
        for runner in runners:
            if runner.path:
                f.write(f"path,{runner.name},{runner.path}\n")
        for (impl, inp, units), values in sorted(per_call.items()):
            f.write(f"result,{impl},{inp},{units},{statistics.median(values):.1f}\n")
        for (a, b), values in ratios.items():
            low, high = spread(values)
            f.write(f"ratio,{a[0]},{a[1]},{a[2]},{b[0]},{b[1]},{b[2]},{statistics.median(values):.4f},"
                    f"{low:.4f},{high:.4f},{len(values)},{' '.join(f'{v:.4f}' for v in values)}\n")


if __name__ == "__main__":
    main()
