#!/usr/bin/python3
"""Checks of the help file.

  check_help.py chm --chm Ivro.chm --extract extract_chmLib [--names N,N... | --shell CMD...]
      Opens the compiled file and checks that it holds a topic page for every
      name of the module (taken from the shell's "help" listing when --shell
      is given), the overview, the escape pages, the contents and the index;
      that its default topic and title are right; that every page is well
      formed and every link, in pages, contents and index, reaches a page
      (and an anchor) that exists.

  check_help.py examples --pages DIR [--platform x86|x64] --shell CMD...
      Runs every example of the pages (<pre class="example">: <kbd> lines
      are typed, the other lines are what the shell prints) in the shell, one
      example block per shell, in a fresh directory, and compares the output.
      The pages show the 32-bit module's version line; with --platform, its
      "(x86)" stands for the platform given.

Exit status 0 when everything holds, 1 otherwise, with one line per fault.
"""
import argparse
import html.parser
import os
import posixpath
import re
import struct
import subprocess
import sys
import tempfile

# Pages every help file has besides the topics of the module's names.
FIXED_PAGES = ["index.html", "escapes.html", "escaped-form.html"]
TITLE = "Ivro"

# Elements that have no end tag.
VOID = {"area", "base", "br", "col", "hr", "img", "input", "link", "meta", "param"}


def topic_page(name):
    """The page the module opens for one of its names."""
    name = name.lower()
    if name.startswith("@"):
        return "f_" + name[1:] + ".html"
    if name.startswith("_"):
        return "v" + name + ".html"
    return name + ".html"


def module_names(shell):
    """The module's names as the shell lists them after loading it."""
    env = dict(os.environ, noloadmsg="1")
    run = subprocess.run(shell + ["-c", "help"], capture_output=True, env=env, timeout=120)
    text = run.stdout.decode("utf-8", "replace")
    for line in text.splitlines():
        if line.startswith("Module:"):
            return line[len("Module:"):].split()
    raise SystemExit("the shell listed no module names:\n" + text + run.stderr.decode("utf-8", "replace"))


class Page(html.parser.HTMLParser):
    """Links, anchors, title and nesting faults of one HTML document."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.links = []      # href and src values
        self.anchors = set()
        self.params = []     # (name, value) of <param>, for contents and index
        self.title = None
        self.faults = []
        self._open = []
        self._in_title = False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        for key in ("href", "src"):
            if attrs.get(key) is not None:
                self.links.append(attrs[key])
        for key in ("name", "id"):
            if tag != "param" and tag != "meta" and attrs.get(key):
                self.anchors.add(attrs[key])
        if tag == "param":
            self.params.append((attrs.get("name", ""), attrs.get("value", "")))
        if tag == "title":
            self._in_title = True
            self.title = ""
        if tag not in VOID:
            self._open.append((tag, self.getpos()[0]))

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)
        if tag not in VOID:
            self._open.pop()

    def handle_endtag(self, tag):
        if tag == "title":
            self._in_title = False
        if tag in VOID:
            return
        if not self._open or self._open[-1][0] != tag:
            where = "%s opened on line %d" % self._open[-1] if self._open else "nothing open"
            self.faults.append("line %d: </%s> but %s" % (self.getpos()[0], tag, where))
            # Resynchronise on the matching element, if any.
            for i in range(len(self._open) - 1, -1, -1):
                if self._open[i][0] == tag:
                    del self._open[i:]
                    break
            return
        self._open.pop()

    def handle_data(self, data):
        if self._in_title:
            self.title += data

    def finish(self):
        self.close()
        for tag, line in self._open:
            self.faults.append("<%s> opened on line %d is never closed" % (tag, line))


def parse(data):
    page = Page()
    page.feed(data.decode("utf-8"))
    page.finish()
    return page


def read_system(data):
    """The entries of the #SYSTEM file: code -> text."""
    entries = {}
    pos = 4  # version
    while pos + 4 <= len(data):
        code, length = struct.unpack_from("<HH", data, pos)
        pos += 4
        entries[code] = data[pos:pos + length].split(b"\0")[0].decode("latin-1")
        pos += length
    return entries


def check_chm(args):
    faults = []
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "files")
        run = subprocess.run([args.extract, args.chm, out], capture_output=True)
        if run.returncode != 0 or not os.path.isdir(out):
            print("cannot open %s: %s" % (args.chm, run.stdout.decode() + run.stderr.decode()))
            return 1
        files = {}
        for root, _dirs, names in os.walk(out):
            for name in names:
                path = os.path.join(root, name)
                with open(path, "rb") as f:
                    files[os.path.relpath(path, out).replace(os.sep, "/")] = f.read()

    names = args.names.split(",") if args.names else module_names(args.shell)
    if not names:
        faults.append("no module names to check")
    wanted = [topic_page(n) for n in names] + FIXED_PAGES
    for page in wanted:
        if page not in files:
            faults.append("missing page: %s" % page)

    system = read_system(files.get("#SYSTEM", b""))
    contents, index = system.get(0, ""), system.get(1, "")
    if system.get(2) != "index.html":
        faults.append("default topic is %r, not 'index.html'" % system.get(2))
    if system.get(3) != TITLE:
        faults.append("title is %r, not %r" % (system.get(3), TITLE))
    for kind, name in (("contents", contents), ("index", index)):
        if not name:
            faults.append("no %s file named" % kind)
        elif name not in files:
            faults.append("%s file %s is missing" % (kind, name))

    pages = {}
    for name, data in files.items():
        if name.endswith((".html", ".htm", ".hhc", ".hhk")):
            try:
                pages[name] = parse(data)
            except UnicodeDecodeError as e:
                faults.append("%s: not UTF-8: %s" % (name, e))

    def resolve(source, link, what):
        if re.match(r"^[a-zA-Z][a-zA-Z0-9+.-]*:", link):
            faults.append("%s: %s %s leaves the help file" % (source, what, link))
            return
        target, _, fragment = link.partition("#")
        target = posixpath.normpath(posixpath.join(posixpath.dirname(source), target)) if target else source
        if target not in files:
            faults.append("%s: %s %s: no such page" % (source, what, link))
        elif fragment and (target not in pages or fragment not in pages[target].anchors):
            faults.append("%s: %s %s: no anchor %r in %s" % (source, what, link, fragment, target))

    for name, page in sorted(pages.items()):
        for fault in page.faults:
            faults.append("%s: %s" % (name, fault))
        if name.endswith((".hhc", ".hhk")):
            for key, value in page.params:
                if key.lower() == "local":
                    resolve(name, value, "entry")
        else:
            if not (page.title or "").strip():
                faults.append("%s: no title" % name)
            for link in page.links:
                resolve(name, link, "link")

    # Every topic in the contents, every name in the index.
    for kind, sitemap in (("contents", contents), ("index", index)):
        if sitemap not in pages:
            continue
        params = pages[sitemap].params
        targets = {v.partition("#")[0] for k, v in params if k.lower() == "local"}
        for page in wanted:
            if kind == "contents" and page not in targets:
                faults.append("contents: no entry for %s" % page)
        if kind == "index":
            keywords = {}
            current = None
            for k, v in params:
                if k.lower() == "name":
                    current = v
                elif k.lower() == "local" and current is not None:
                    keywords.setdefault(current.lower(), set()).add(v.partition("#")[0])
            for n in names:
                if topic_page(n) not in keywords.get(n.lower(), set()):
                    faults.append("index: no keyword %s leading to %s" % (n, topic_page(n)))

    for fault in faults:
        print(fault)
    print("%s: %d pages checked, %d faults" % (args.chm, len(pages), len(faults)))
    return 1 if faults else 0


class Examples(html.parser.HTMLParser):
    """The example blocks of a page: lists of lines (typed, text)."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.blocks = []
        self._depth = 0  # inside <pre class="example">
        self._kbd = False
        self._fresh = False
        self._line = None

    def handle_starttag(self, tag, attrs):
        if tag == "pre" and "example" in (dict(attrs).get("class") or "").split():
            self._depth = 1
            self._fresh = True
            self._line = [False, ""]
            self.blocks.append((self.getpos()[0], []))
        elif tag == "kbd" and self._depth:
            self._fresh = False
            self._kbd = True
            self._line[0] = True

    def handle_endtag(self, tag):
        if tag == "kbd":
            self._kbd = False
        elif tag == "pre" and self._depth:
            if self._line[1]:
                self._end_line()
            self._depth = 0

    def handle_data(self, data):
        if not self._depth:
            return
        if self._fresh and data.startswith("\n"):
            data = data[1:]  # a line end right after <pre> is not shown
        self._fresh = False
        for i, part in enumerate(data.split("\n")):
            if i:
                self._end_line()
            self._line[1] += part

    def _end_line(self):
        self.blocks[-1][1].append(tuple(self._line))
        self._line = [self._kbd, ""]


def normalise(text):
    lines = text.replace("\r\n", "\n").split("\n")
    return "\n".join(line.rstrip(" ") for line in lines).rstrip("\n")


def check_examples(args):
    faults = 0
    count = 0
    env = {k: v for k, v in os.environ.items() if not k.lower().startswith("ivro")}
    env["noloadmsg"] = "1"
    for name in sorted(os.listdir(args.pages)):
        if not name.endswith(".html"):
            continue
        parser = Examples()
        with open(os.path.join(args.pages, name), encoding="utf-8") as f:
            parser.feed(f.read())
        parser.close()
        if args.require and re.match(r"^(f_.*|v_.*|expecho)\.html$", name) and not parser.blocks:
            print("%s: no examples" % name)
            faults += 1
        for line, block in parser.blocks:
            typed = [text for is_kbd, text in block if is_kbd]
            expected = "\n".join(text for is_kbd, text in block if not is_kbd)
            expected = expected.replace("(x86)", "(%s)" % args.platform)
            with tempfile.TemporaryDirectory() as work:
                run = subprocess.run(args.shell + ["-o", "utf8output=yes", "-i"],
                                     input="\n".join(typed).encode("utf-8") + b"\n",
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     cwd=work, env=env, timeout=120)
            actual = run.stdout.decode("utf-8", "replace")
            count += 1
            if normalise(actual) != normalise(expected):
                faults += 1
                print("%s:%d: example differs\n  typed:\n    %s\n  expected:\n    %s\n  got:\n    %s" % (
                    name, line, "\n    ".join(typed), "\n    ".join(normalise(expected).split("\n")),
                    "\n    ".join(normalise(actual).split("\n"))))
    print("%d examples run, %d faults" % (count, faults))
    return 1 if faults or count == 0 else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    chm = sub.add_parser("chm")
    chm.add_argument("--chm", required=True)
    chm.add_argument("--extract", default="extract_chmLib")
    chm.add_argument("--names", help="the module's names, comma-separated, instead of asking the shell")
    chm.add_argument("--shell", nargs=argparse.REMAINDER, help="command that runs the shell")
    ex = sub.add_parser("examples")
    ex.add_argument("--pages", required=True)
    ex.add_argument("--require", action="store_true", help="every topic page must have examples")
    ex.add_argument("--platform", default="x86", help="platform of the module the shell loads")
    ex.add_argument("--shell", nargs=argparse.REMAINDER, required=True)
    args = parser.parse_args()
    if args.shell:
        # The examples run in directories of their own.
        args.shell = [os.path.abspath(a) if os.path.exists(a) else a for a in args.shell]
    if args.command == "chm":
        if not args.names and not args.shell:
            parser.error("give --names or --shell")
        return check_chm(args)
    return check_examples(args)


if __name__ == "__main__":
    sys.exit(main())
