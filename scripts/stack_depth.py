#!/usr/bin/env python3
"""The deepest stack each export of the module can take, from its own frames.

    stack_depth.py [--summary FILE] BUDGET DEF CI_DIR...

Reads the call graphs that GCC writes with -fcallgraph-info=su (a .ci file
beside each object, below the CI_DIRs): each function of the module with the
size of its frame, and the calls it makes by name. For each export that DEF
names (Ivro.def: `name = symbol`), the deepest chain of the module's own
frames from it: its frame and, of the functions it calls, the deepest chain.
Functions outside the module (Windows, the shell, the runtime) count nothing,
nor do calls through a pointer, which the graph does not hold. Prints the
exports, deepest first (with --summary, also the budget and each export's
figure into FILE, a line each), and fails when one is above BUDGET bytes,
when the module calls itself round in a cycle, or when a frame's size is not
bounded.
"""
import os
import re
import sys

NODE = re.compile(r'node: \{ title: "([^"]+)" label: "([^"]*)"')
EDGE = re.compile(r'edge: \{ sourcename: "([^"]+)" targetname: "([^"]+)"')
SIZE = re.compile(r'\\n(\d+) bytes \(([a-z,]+)\)')


def read_graph(directories):
    frames, kinds, names, calls = {}, {}, {}, {}
    for directory in directories:
        for root, _, files in os.walk(directory):
            for name in files:
                if not name.endswith(".ci"):
                    continue
                with open(os.path.join(root, name), encoding="utf-8") as f:
                    text = f.read()
                for title, label in NODE.findall(text):
                    size = SIZE.search(label)
                    if size is None:
                        continue  # declared here, defined elsewhere or outside
                    # An inline function may be in several objects: its
                    # largest frame.
                    if int(size.group(1)) >= frames.get(title, -1):
                        frames[title] = int(size.group(1))
                        kinds[title] = size.group(2)
                        names[title] = label.split("\\n")[0]
                for source, target in EDGE.findall(text):
                    calls.setdefault(source, set()).add(target)
    return frames, kinds, names, calls


def exports(path):
    symbols = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split(";")[0].strip()
            if "=" in line:
                name, symbol = (part.strip() for part in line.split("=", 1))
                symbols.append((name, symbol))
    return symbols


def main():
    args = sys.argv[1:]
    summary = None
    if args[:1] == ["--summary"]:
        summary, args = args[1], args[2:]
    if len(args) < 3:
        sys.exit(__doc__)
    budget, definitions, directories = int(args[0]), args[1], args[2:]
    frames, kinds, names, calls = read_graph(directories)
    if not frames:
        sys.exit("no call graphs (.ci files) below " + " ".join(directories))
    problems = []
    deepest = {}

    def depth(function, path):
        """The deepest chain from `function`, and the chain itself."""
        if function in deepest:
            return deepest[function]
        if function in path:
            problems.append("a cycle of calls: " + " -> ".join(path[path.index(function):] + [function]))
            return 0, []
        if function not in frames:
            return 0, []  # outside the module
        if kinds[function] != "static" and kinds[function] != "dynamic,bounded":
            problems.append("%s: a frame of unbounded size (%s)" % (names[function], kinds[function]))
        below, chain = 0, []
        for callee in sorted(calls.get(function, ())):
            size, callee_chain = depth(callee, path + [function])
            if size > below:
                below, chain = size, callee_chain
        deepest[function] = (frames[function] + below, [function] + chain)
        return deepest[function]

    rows = []
    for name, symbol in exports(definitions):
        # The 32-bit objects name an export by its decorated symbol, the
        # 64-bit ones by its plain name.
        function = symbol if symbol in frames else name
        if function not in frames:
            problems.append("%s: not in the call graphs" % name)
            continue
        size, chain = depth(function, [])
        rows.append((size, name, chain))
    for size, name, chain in sorted(rows, reverse=True):
        print("%-16s %7d bytes: %s" % (name, size, " -> ".join("%s %d" % (names[f], frames[f]) for f in chain)))
    if summary is not None:
        with open(summary, "w", encoding="utf-8") as f:
            f.write("stack: budget %d bytes\n" % budget)
            for size, name, _ in sorted(rows, reverse=True):
                f.write("stack: %-16s %7d bytes\n" % (name, size))
    for size, name, _ in rows:
        if size > budget:
            problems.append("%s: %d bytes of stack, above the budget of %d" % (name, size, budget))
    for problem in problems:
        print("FAILED: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
