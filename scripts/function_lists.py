#!/usr/bin/python3
"""Holds the lists of the module's functions that stay written out to the
table of functions (plugin/functions.h):

- Ivro.def exports each function under its export's plain name, and no
  function export that the table lacks;
- tests/windows/plugin_test.cpp, the one test with a list of its own (the
  feature list the shell must be given, and the exports it must find), names
  the table's functions, no more and no fewer;
- README.md links each function's page; examples/example.btm, which the
  user's README says tries each function, calls each;
- docs/help has each function's page, and the help index an entry for the
  variable and the command (the build fills in those of the @ functions).

    function_lists.py --source DIR

Fails naming the file and the function it lacks or has too many.
"""
import argparse
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs", "help"))
import functions  # noqa: E402  (docs/help/functions.py: the table's reader)


def read(source, path):
    with open(os.path.join(source, path), encoding="utf-8") as f:
        return f.read()


def compare(faults, where, listed, table, what):
    for name in sorted(set(table) - set(listed)):
        faults.append("%s: no %s %s, which the table of functions has" % (where, what, name))
    for name in sorted(set(listed) - set(table)):
        faults.append("%s: %s %s, which the table of functions lacks" % (where, what, name))


def check(source):
    rows = functions.read_table(os.path.join(source, "plugin", "functions.h"))
    exports = [r["export"] for r in rows]
    names = [r["name"] for r in rows]
    faults = []

    definitions = read(source, "Ivro.def")
    defined = re.findall(r"^\s*(\w+)\s*=\s*(\w+)@\d+\s*$", definitions, re.M)
    for name, decorated in defined:
        if name != decorated:
            faults.append("Ivro.def: %s is exported as %s" % (decorated, name))
    protocol = {"GetPluginInfo", "InitializePlugin", "ShutdownPlugin", "Help", "Usage"}
    compare(faults, "Ivro.def", [n for n, _ in defined if n not in protocol], exports, "export")

    test = read(source, "tests/windows/plugin_test.cpp")
    features = re.search(r"kFeatures\[\]\s*=\s*((?:L\"[^\"]*\"\s*)+);", test)
    if features is None:
        faults.append("tests/windows/plugin_test.cpp: no kFeatures")
    else:
        listed = "".join(re.findall(r'L"([^"]*)"', features.group(1))).split(",")
        compare(faults, "tests/windows/plugin_test.cpp (kFeatures)", listed, names, "name")
    export_list = re.search(r"for \(const char\* name : \{([^}]*)\}\)\s*\n\s*EXPECT_EQ\(BufferExport", test)
    if export_list is None:
        faults.append("tests/windows/plugin_test.cpp: no list of the functions' exports")
    else:
        compare(faults, "tests/windows/plugin_test.cpp (the exports)", re.findall(r'"(\w+)"', export_list.group(1)),
                exports, "export")

    readme = read(source, "README.md")
    example = read(source, "examples/example.btm").lower()
    index = read(source, "docs/help/Ivro.hhk")
    for row in rows:
        shown = functions.shown(row)
        if "[`%s`](docs/help/%s)" % (shown, row["page"]) not in readme:
            faults.append("README.md: no link [`%s`](docs/help/%s)" % (shown, row["page"]))
        called = ("%" + row["name"] if row["name"][0] in "@_" else row["name"]).lower()
        if not re.search(re.escape(called) + r"(?![\w])", example):
            faults.append("examples/example.btm: no call of %s" % shown)
        if not os.path.exists(os.path.join(source, "docs", "help", row["page"])):
            faults.append("docs/help: no page %s for %s" % (row["page"], shown))
        if not row["name"].startswith("@") and functions.entry(row) not in index:
            faults.append("docs/help/Ivro.hhk: no entry of %s" % shown)
    return faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True)
    args = parser.parse_args()
    try:
        faults = check(args.source)
    except (OSError, ValueError) as error:
        faults = [str(error)]
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
