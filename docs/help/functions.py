#!/usr/bin/python3
"""The table of the module's functions (plugin/functions.h) for the help file.

  functions.py pages --table functions.h
      Prints the functions' topic pages, separated by "|", in the table's
      order (for the build's list of the help file's sources).

  functions.py stage --table functions.h --dir DIR
      Fills the functions' lines into the copies of Ivro.hhc, Ivro.hhk,
      Ivro.hhp and index.html in DIR, where each has a line that is only a
      marker comment naming what goes there:
        @ functions    the contents' or the index's entries of the @ functions
        others         the contents' entries of the variable and the command
        pages          the project's list of the functions' pages
        overview       the overview's rows, one for each function
      Contents and pages go in the table's order, the index sorted by name.

Exit status 0, or 1 with a line naming what is wrong.
"""
import argparse
import os
import re
import sys

STRING = r'"((?:[^"\\]|\\.)*)"'
ROW = re.compile(r"X\(\s*" + STRING + r"\s*,\s*(\w+)\s*,\s*" + STRING + r"\s*,\s*" + STRING +
                 r"\s*,\s*((?:" + STRING + r"\s*)+)\)")
MARKER = re.compile(r"^\s*(?:<!--|;)\s*the functions: (@ functions|others|pages|overview)\b.*$")


def unescape(text):
    return re.sub(r"\\(.)", r"\1", text)


def read_table(path):
    """The rows of the table: dicts of name, export, page, syntax, summary."""
    with open(path, encoding="utf-8") as f:
        text = f.read().replace("\\\n", " ")
    start = text.find("#define IVRO_FUNCTIONS(X)")
    if start < 0:
        raise ValueError("%s: no IVRO_FUNCTIONS(X)" % path)
    end = text.find("\n", start)
    rows = []
    for match in ROW.finditer(text[start:end]):
        summary = "".join(unescape(part) for part in re.findall(STRING, match.group(5)))
        rows.append({"name": unescape(match.group(1)), "export": match.group(2),
                     "page": unescape(match.group(3)) + ".html", "syntax": unescape(match.group(4)),
                     "summary": summary})
    if not rows:
        raise ValueError("%s: IVRO_FUNCTIONS has no rows" % path)
    return rows


def shown(row):
    """A name as the help shows it: a command in capitals."""
    name = row["name"]
    return name if name[0] in "@_" else name.upper()


def entry(row):
    return ('<li><object type="text/sitemap"><param name="Name" value="%s">'
            '<param name="Local" value="%s"></object></li>' % (shown(row), row["page"]))


def sort_key(row):
    return [ord(c) for c in row["name"]]


def lines_for(kind, file_name, rows):
    functions = [r for r in rows if r["name"].startswith("@")]
    if kind == "@ functions" and file_name == "Ivro.hhk":
        return [entry(r) for r in sorted(functions, key=sort_key)]
    if kind == "@ functions":
        return [entry(r) for r in functions]
    if kind == "others":
        return [entry(r) for r in rows if not r["name"].startswith("@")]
    if kind == "pages":
        return [r["page"] for r in rows]
    if kind == "overview":
        out = []
        for r in rows:
            out.append('<tr><td><a href="%s"><code>%s</code></a></td>' % (r["page"], r["syntax"]))
            out.append("    <td>%s</td></tr>" % r["summary"])
        return out
    raise ValueError(kind)


def stage(table, directory):
    rows = read_table(table)
    for file_name in ("Ivro.hhc", "Ivro.hhk", "Ivro.hhp", "index.html"):
        path = os.path.join(directory, file_name)
        with open(path, "rb") as f:
            data = f.read().decode("utf-8")
        newline = "\r\n" if "\r\n" in data else "\n"
        out, filled = [], 0
        for line in data.split(newline):
            match = MARKER.match(line)
            if match:
                out.extend(lines_for(match.group(1), file_name, rows))
                filled += 1
            else:
                out.append(line)
        if filled == 0:
            raise ValueError("%s has no marker of the functions" % file_name)
        with open(path, "wb") as f:
            f.write(newline.join(out).encode("utf-8"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("command", choices=["pages", "stage"])
    parser.add_argument("--table", required=True)
    parser.add_argument("--dir")
    args = parser.parse_args()
    try:
        if args.command == "pages":
            print("|".join(r["page"] for r in read_table(args.table)))
        else:
            stage(args.table, args.dir)
    except (OSError, ValueError) as error:
        print("functions.py: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
