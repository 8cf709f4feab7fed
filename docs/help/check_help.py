#!/usr/bin/python3
"""Checks of the help file.

  check_help.py chm --chm Ivro.chm --extract extract_chmLib [--names N,N... | --shell CMD...]
      Opens the compiled file and checks that it holds a topic page for every
      name of the module (taken from the shell's "help" listing when --shell
      is given), the overview, the escape pages, the contents and the index;
      that its default topic and title are right; that every page is well
      formed and every link, in pages, contents and index, reaches a page
      (and an anchor) that exists.

  check_help.py examples [--pages DIR] [--text FILE]... [--only NAME]... [--platform x86|x64] --shell CMD...
      Runs every example of the pages (<pre class="example">: <kbd> lines
      are typed, the other lines are what the shell prints) and of the text
      files (indented by four blanks: lines after "> " are typed) in the
      shell, one example block per shell, in a fresh directory, and compares
      the output. The platform in a version line, "(x86)" or "(x64)", stands
      for the one given with --platform. --only runs the examples of the
      pages or files of that name alone.

  check_help.py browser (--chm Ivro.chm [--extract extract_chmLib] | --dir DIR) [--browser chromium]
      Takes the pages out of the compiled file (or uses a directory of pages
      already taken out) and opens each in a headless browser: every page
      must load, with its stylesheets and images; the browser must report no
      error on it (console errors, script exceptions, failed requests); every
      link must lead to a page the browser can open, and to an element of
      that page when it names an anchor; every entry of the contents (.hhc)
      and of the index (.hhk) likewise.

  check_help.py pictures --chm Ivro.chm [--extract extract_chmLib] --out DIR [--size WxH]
      Draws the @exp page and the first page of the contents with the same
      browser and saves them as DIR/help-exp.png and DIR/help-contents.png
      (for the README; run by hand).

Exit status 0 when everything holds, 1 otherwise, with one line per fault.
"""
import argparse
import base64
import concurrent.futures
import fcntl
import html.parser
import json
import os
import posixpath
import re
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

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


def extract(extractor, chm, out):
    """Takes the files out of a compiled help file into the directory out."""
    run = subprocess.run([extractor, chm, out], capture_output=True)
    if run.returncode != 0 or not os.path.isdir(out):
        raise SystemExit("cannot open %s: %s" % (chm, run.stdout.decode() + run.stderr.decode()))


def check_chm(args):
    faults = []
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "files")
        extract(args.extract, args.chm, out)
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
        # As the release's packer refuses in the files it packs: an address
        # in a domain reserved for examples reaches nobody.
        for host in sorted(set(re.findall(rb"(?:@|://)((?:[a-z0-9-]+\.)+(?:example|invalid))\b", data, re.IGNORECASE))):
            faults.append("%s: %s reaches nobody" % (name, host.decode()))
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
    """The example blocks of a page: lists of lines (typed, text, line
    number in the page)."""

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
            self._line = [False, "", self.getpos()[0]]
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
        first = self.getpos()[0]
        if self._fresh and data.startswith("\n"):
            data = data[1:]  # a line end right after <pre> is not shown
            first += 1
            self._line[2] = first
        self._fresh = False
        for i, part in enumerate(data.split("\n")):
            if i:
                self._end_line(first + i)
            self._line[1] += part

    def _end_line(self, next_line=None):
        self.blocks[-1][1].append(tuple(self._line))
        self._line = [self._kbd, "", next_line]


def normalise(text):
    lines = text.replace("\r\n", "\n").split("\n")
    return "\n".join(line.rstrip(" ") for line in lines).rstrip("\n")


def text_examples(text):
    """The example blocks of a plain-text file, as Examples gives those of a
    page: a line that starts with four blanks and "> " is typed and begins a
    block, which goes on over the lines indented by four blanks (what the
    shell prints) and blank lines."""
    blocks = []
    lines = text.replace("\r\n", "\n").split("\n")
    i = 0
    while i < len(lines):
        if not lines[i].startswith("    > "):
            i += 1
            continue
        start, block = i, []
        while i < len(lines) and (lines[i].startswith("    ") or not lines[i].strip()):
            line = lines[i][4:]
            block.append((True, line[2:], i + 1) if line.startswith("> ") else (False, line, i + 1))
            i += 1
        while not block[-1][0] and not block[-1][1].strip():
            block.pop()
        blocks.append((start + 1, block))
    return blocks


def check_examples(args):
    faults = 0
    count = 0
    env = {k: v for k, v in os.environ.items() if not k.lower().startswith("ivro")}
    env["noloadmsg"] = "1"
    sources = []  # (file name, example blocks)
    for name in sorted(os.listdir(args.pages)) if args.pages else []:
        if not name.endswith(".html") or (args.only and name not in args.only):
            continue
        parser = Examples()
        with open(os.path.join(args.pages, name), encoding="utf-8") as f:
            parser.feed(f.read())
        parser.close()
        if args.require and re.match(r"^(f_.*|v_.*|expecho)\.html$", name) and not parser.blocks:
            print("%s: no examples" % name)
            faults += 1
        sources.append((name, parser.blocks))
    for path in args.text or []:
        if args.only and os.path.basename(path) not in args.only:
            continue
        with open(path, encoding="utf-8-sig") as f:
            sources.append((os.path.basename(path), text_examples(f.read())))
    def run(block):
        typed = [text for is_kbd, text, _ in block if is_kbd]
        with tempfile.TemporaryDirectory() as work:
            result = subprocess.run(args.shell + ["-o", "utf8output=yes", "-i"],
                                    input="\n".join(typed).encode("utf-8") + b"\n",
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                    cwd=work, env=env, timeout=120)
        return typed, result.stdout.decode("utf-8", "replace")

    # Each block runs in a shell of its own, so they run side by side: most
    # of a shell's time under wine is its start.
    examples = [(name, line, block) for name, blocks in sources for line, block in blocks]
    with concurrent.futures.ThreadPoolExecutor(max_workers=2 * (os.cpu_count() or 1)) as pool:
        outputs = list(pool.map(lambda example: run(example[2]), examples))
    for (name, line, block), (typed, actual) in zip(examples, outputs):
        shown = [(re.sub(r"\((x86|x64)\)", "(%s)" % args.platform, text), number)
                 for is_kbd, text, number in block if not is_kbd]
        expected = normalise("\n".join(text for text, _ in shown))
        actual = normalise(actual)
        count += 1
        if actual != expected:
            # The line of the page where the output first differs (the
            # block's last line when the shell printed more than it shows).
            got = actual.split("\n")
            wrong = next((i for i, (text, _) in enumerate(shown) if i >= len(got) or got[i] != text.rstrip(" ")),
                         len(shown) - 1)
            line = shown[wrong][1] if shown else line
            faults += 1
            print("%s:%d: example differs\n  typed:\n    %s\n  expected:\n    %s\n  got:\n    %s" % (
                name, line, "\n    ".join(typed), "\n    ".join(expected.split("\n")),
                "\n    ".join(got)))
    print("%d examples run, %d faults" % (count, faults))
    return 1 if faults or count == 0 else 0


class BrowserError(Exception):
    pass


class Browser:
    """A headless Chromium, driven over the DevTools protocol on a pipe
    (--remote-debugging-pipe): JSON messages, each ended by a NUL byte, go in
    on the browser's descriptor 3 and come out on its descriptor 4. It runs
    in a fresh profile, with one page (tab) that the calls below act on."""

    def __init__(self, program, width=900, height=700, timeout=10):
        self.timeout = timeout
        self._profile = tempfile.TemporaryDirectory()
        self._log = tempfile.TemporaryFile()
        command_read, self._command = os.pipe()
        self._reply, reply_write = os.pipe()
        args = [program, "--headless=new", "--remote-debugging-pipe",
                "--user-data-dir=" + self._profile.name, "--no-first-run", "--disable-gpu",
                "--disable-extensions", "--disable-background-networking", "--disable-component-update",
                "--disable-sync", "--disable-default-apps", "--hide-scrollbars", "--mute-audio",
                "--window-size=%d,%d" % (width, height), "about:blank"]
        if os.geteuid() == 0:
            args.insert(1, "--no-sandbox")  # Chromium refuses to run as root inside its sandbox

        def plumb():
            # In the child: the two pipe ends become descriptors 3 and 4, and
            # nothing else of this process is inherited.
            ends = [fcntl.fcntl(fd, fcntl.F_DUPFD, 16) for fd in (command_read, reply_write)]
            os.dup2(ends[0], 3)
            os.dup2(ends[1], 4)
            os.closerange(5, 1 << 16)

        self._process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=self._log, stderr=self._log,
                                         close_fds=False, preexec_fn=plumb)
        os.close(command_read)
        os.close(reply_write)
        self._buffer = b""
        self._next = 0
        self.events = []
        try:
            target = self.call("Target.createTarget", url="about:blank")["targetId"]
            self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
            for domain in ("Page", "Runtime", "Log", "Network"):
                self.page(domain + ".enable")
            self.page("Emulation.setDeviceMetricsOverride", width=width, height=height,
                      deviceScaleFactor=1, mobile=False)
        except BaseException:
            self.close()
            raise

    def _receive(self, deadline):
        while b"\0" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self._reply], [], [], left)[0]:
                raise BrowserError("the browser did not answer within %d s" % self.timeout)
            data = os.read(self._reply, 1 << 20)
            if not data:
                raise BrowserError("the browser ended:\n" + self.output())
            self._buffer += data
        message, _, self._buffer = self._buffer.partition(b"\0")
        return json.loads(message)

    def call(self, method, session=None, **params):
        self._next += 1
        message = {"id": self._next, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self._command, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + self.timeout
        while True:
            reply = self._receive(deadline)
            if reply.get("id") == self._next:
                if "error" in reply:
                    raise BrowserError("%s: %s" % (method, reply["error"].get("message")))
                return reply.get("result", {})
            if "method" in reply:
                self.events.append(reply)

    def page(self, method, **params):
        return self.call(method, self.session, **params)

    def wait(self, method):
        """The next event of the page by that name (earlier events stay in self.events)."""
        deadline = time.monotonic() + self.timeout
        seen = 0
        while True:
            for event in self.events[seen:]:
                if event["method"] == method:
                    return event
            seen = len(self.events)
            event = self._receive(deadline)
            if "method" in event:
                self.events.append(event)

    def open(self, url):
        """Loads url and waits for its load event. Returns the browser's
        error text when the page could not be loaded, else None."""
        self.events = []
        result = self.page("Page.navigate", url=url)
        try:
            self.wait("Page.loadEventFired")
        except BrowserError:
            if not result.get("errorText"):
                raise
        return result.get("errorText")

    def evaluate(self, expression):
        result = self.page("Runtime.evaluate", expression=expression, returnByValue=True)
        if "exceptionDetails" in result:
            raise BrowserError("script failed: %s" % result["exceptionDetails"].get("text"))
        return result["result"].get("value")

    def screenshot(self):
        return base64.b64decode(self.page("Page.captureScreenshot", format="png")["data"])

    def output(self):
        self._log.seek(0)
        return self._log.read().decode("utf-8", "replace")

    def close(self):
        try:
            if self._process.poll() is None:
                try:
                    self.call("Browser.close")
                except (BrowserError, OSError):
                    pass
                try:
                    self._process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    self._process.kill()
                    self._process.wait()
        finally:
            for fd in (self._command, self._reply):
                try:
                    os.close(fd)
                except OSError:
                    pass
            self._profile.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *_exc):
        self.close()


# What the browser made of a page: its links, anchors, stylesheets and images.
PAGE_SCRIPT = r"""(() => {
    const links = [];
    for (const e of document.querySelectorAll('[href]')) links.push([e.getAttribute('href'), String(e.href)]);
    for (const e of document.querySelectorAll('[src]')) links.push([e.getAttribute('src'), String(e.src)]);
    const anchors = [];
    for (const e of document.querySelectorAll('[id]')) anchors.push(e.id);
    for (const e of document.querySelectorAll('a[name]')) anchors.push(e.name);
    return {
        type: document.contentType,
        title: document.title,
        links: links,
        anchors: anchors,
        sheets: document.querySelectorAll('link[rel~="stylesheet" i]').length,
        images: [...document.images].map(i => [i.getAttribute('src'), i.complete && i.naturalWidth > 0]),
    };
})()"""


def browser_program(name):
    program = shutil.which(name)
    if not program:
        raise SystemExit("no browser %r (Debian package chromium)" % name)
    return program


def page_errors(events):
    """The errors the browser reported while a page loaded."""
    errors = []
    requests = {}
    for event in events:
        method, params = event["method"], event.get("params", {})
        if method == "Network.requestWillBeSent":
            requests[params.get("requestId")] = params.get("request", {}).get("url")
        if method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
            text = " ".join(str(a.get("value", a.get("description", ""))) for a in params.get("args", []))
            errors.append("console error: %s" % text)
        elif method == "Runtime.exceptionThrown":
            details = params.get("exceptionDetails", {})
            errors.append("script exception: %s" % details.get("exception", {}).get("description", details.get("text")))
        elif method == "Log.entryAdded" and params.get("entry", {}).get("level") == "error":
            entry = params["entry"]
            errors.append("browser error: %s%s" % (entry.get("text"), " (%s)" % entry["url"] if entry.get("url") else ""))
        elif method == "Network.loadingFailed" and not params.get("canceled"):
            errors.append("request failed: %s: %s" % (requests.get(params.get("requestId")), params.get("errorText")))
    return errors


def check_browser(args):
    faults = []
    with tempfile.TemporaryDirectory() as work:
        if args.dir:
            root = os.path.abspath(args.dir)
        else:
            root = os.path.join(work, "files")
            extract(args.extract, args.chm, root)
        base = urllib.parse.urljoin("file:", urllib.request.pathname2url(root) + "/")

        def name_of(url):
            """The file inside the help file a URL names, or None."""
            if not url.startswith(base):
                return None
            return urllib.parse.unquote(url[len(base):])

        pages = sorted(n for n in os.listdir(root) if n.lower().endswith((".html", ".htm")))
        sitemaps = sorted(n for n in os.listdir(root) if n.lower().endswith((".hhc", ".hhk")))
        for kind in (".hhc", ".hhk"):
            if not any(n.lower().endswith(kind) for n in sitemaps):
                faults.append("no %s file in the help file" % kind)
        if not pages:
            faults.append("no pages in the help file")

        # Each reference: (where it stands, as written, the URL it resolves to).
        references = []
        for name in sitemaps:
            with open(os.path.join(root, name), "rb") as f:
                sitemap = parse(f.read())
            entries = [v for k, v in sitemap.params if k.lower() == "local"]
            if not entries:
                faults.append("%s: no entries" % name)
            for value in entries:
                references.append(("%s: entry" % name, value, urllib.parse.urljoin(base + name, value)))

        seen = {}  # file name -> what the browser found on it (None: not loaded)
        queue = [base + urllib.parse.quote(n) for n in pages]
        queue += [url.partition("#")[0] for _where, _value, url in references]
        started = time.monotonic()
        with Browser(browser_program(args.browser), timeout=args.timeout) as browser:
            while queue:
                url = queue.pop(0)
                name = name_of(url)
                if name is None or name in seen:
                    continue
                error = browser.open(url)
                if error:
                    seen[name] = None
                    continue
                found = browser.evaluate(PAGE_SCRIPT)
                seen[name] = found
                for fault in page_errors(browser.events):
                    faults.append("%s: %s" % (name, fault))
                if not found["type"].startswith("text/html"):
                    continue
                if not found["title"].strip():
                    faults.append("%s: no title" % name)
                # A stylesheet that does not load is a failed request above.
                if not found["sheets"]:
                    faults.append("%s: no stylesheet" % name)
                for src, shown in found["images"]:
                    if not shown:
                        faults.append("%s: image %s did not load" % (name, src))
                for value, target in found["links"]:
                    references.append(("%s: link" % name, value, target))
                    queue.append(target.partition("#")[0])
        elapsed = time.monotonic() - started

        for where, value, url in references:
            target, _, fragment = url.partition("#")
            name = name_of(target)
            if name is None:
                faults.append("%s %s leads out of the help file" % (where, value))
            elif seen.get(name) is None:
                faults.append("%s %s: %s does not load" % (where, value, name))
            elif fragment and urllib.parse.unquote(fragment) not in seen[name]["anchors"]:
                faults.append("%s %s: no anchor %r on %s" % (where, value, fragment, name))

    for fault in sorted(set(faults), key=faults.index):
        print(fault)
    loaded = sum(1 for v in seen.values() if v is not None)
    print("%s: %d files opened in the browser in %.1f s, %d links and entries followed, %d faults" % (
        args.dir or args.chm, loaded, elapsed, len(references), len(set(faults))))
    return 1 if faults or not loaded else 0


def draw_pictures(args):
    width, height = (int(n) for n in args.size.lower().split("x"))
    with tempfile.TemporaryDirectory() as work:
        root = os.path.join(work, "files")
        extract(args.extract, args.chm, root)
        contents = sorted(n for n in os.listdir(root) if n.lower().endswith(".hhc"))
        if not contents:
            raise SystemExit("%s: no contents" % args.chm)
        with open(os.path.join(root, contents[0]), "rb") as f:
            first = next(v for k, v in parse(f.read()).params if k.lower() == "local")
        base = urllib.parse.urljoin("file:", urllib.request.pathname2url(root) + "/")
        with Browser(browser_program(args.browser), width, height, args.timeout) as browser:
            for page, picture in ((topic_page("@exp"), "help-exp.png"), (first, "help-contents.png")):
                error = browser.open(base + page)
                if error:
                    raise SystemExit("%s: %s" % (page, error))
                path = os.path.join(args.out, picture)
                with open(path, "wb") as f:
                    f.write(browser.screenshot())
                print("%s: %s" % (page, path))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    chm = sub.add_parser("chm")
    chm.add_argument("--chm", required=True)
    chm.add_argument("--extract", default="extract_chmLib")
    chm.add_argument("--names", help="the module's names, comma-separated, instead of asking the shell")
    chm.add_argument("--shell", nargs=argparse.REMAINDER, help="command that runs the shell")
    ex = sub.add_parser("examples")
    ex.add_argument("--pages", help="directory of the help pages")
    ex.add_argument("--text", action="append", help="a plain-text file with examples (repeatable)")
    ex.add_argument("--require", action="store_true", help="every topic page must have examples")
    ex.add_argument("--only", action="append", help="run only the examples of this page or file name (repeatable)")
    ex.add_argument("--platform", default="x86", help="platform of the module the shell loads")
    ex.add_argument("--shell", nargs=argparse.REMAINDER, required=True)
    browser = sub.add_parser("browser")
    source = browser.add_mutually_exclusive_group(required=True)
    source.add_argument("--chm", help="the compiled help file")
    source.add_argument("--dir", help="a directory of pages taken out of it")
    browser.add_argument("--extract", default="extract_chmLib")
    browser.add_argument("--browser", default="chromium")
    browser.add_argument("--timeout", type=int, default=10, help="seconds the browser may take for one step")
    pictures = sub.add_parser("pictures")
    pictures.add_argument("--chm", required=True)
    pictures.add_argument("--extract", default="extract_chmLib")
    pictures.add_argument("--out", required=True, help="directory the pictures go to")
    pictures.add_argument("--size", default="900x700", help="window size, WIDTHxHEIGHT")
    pictures.add_argument("--browser", default="chromium")
    pictures.add_argument("--timeout", type=int, default=10)
    args = parser.parse_args()
    if getattr(args, "shell", None):
        # The examples run in directories of their own.
        args.shell = [os.path.abspath(a) if os.path.exists(a) else a for a in args.shell]
    if args.command == "chm":
        if not args.names and not args.shell:
            parser.error("give --names or --shell")
        return check_chm(args)
    if args.command == "browser":
        return check_browser(args)
    if args.command == "pictures":
        return draw_pictures(args)
    if not args.pages and not args.text:
        parser.error("give --pages or --text")
    return check_examples(args)


if __name__ == "__main__":
    sys.exit(main())
