#!/usr/bin/python3
"""The release's reproducible steps: one time for everything, taken from the
commit, and files whose bytes depend on nothing but the sources.

  release.py epoch --source DIR --out FILE
      Writes the release's time, seconds since 1970 (UTC), to FILE: the
      environment's SOURCE_DATE_EPOCH, or else the time of the commit checked
      out in DIR (git log -1 --format=%ct). FILE is rewritten only when the
      time changes, so that what depends on it is made again only then.

  release.py pin-chm --epoch-file FILE CHM
      The help compiler writes the time of day of its run into the compiled
      help file twice, in its header and in its #SYSTEM file; both become the
      time of day of the release's time.

  release.py buildinfo --out FILE --source DIR --epoch-file FILE --version V
                       --platform P --report-to ADDRESS --compiler CXX
                       --compile-flags FLAGS --link-flags FLAGS [--tool PATH...]
      Writes the build record BUILDINFO: the commit, the release's time and
      the report address, the flags that shape the module, the version of
      each tool, and every Debian package, by name and version, that the
      compiler, its runtime and headers, the binutils, the help compiler,
      Python's zip writer and the build tool come from. FILE is rewritten
      only when it changes.

  release.py pack --epoch-file FILE --version V --folder NAME --report-to ADDRESS
                  --out ZIP SOURCE=NAME...
      Writes the release archive ZIP: one folder NAME that holds each SOURCE
      file under its NAME, in the order given, and SHA256SUMS, the checksum of
      each of them. Every entry carries the release's time and the same
      attributes; text files (.txt, .btm) get Windows line ends, and a UTF-8
      byte-order mark when they hold anything beyond ASCII, so that Notepad
      shows them right. The file named CHANGES.txt must begin with the entry
      of version V and its date: "Ivro V (YYYY-MM-DD)". With an ADDRESS, the
      README.txt says to report problems there. No file may hold an address
      in a domain reserved for examples (.example, .invalid).

  release.py compare RECORDED REBUILT
      Compares two release folders (or two archives) file by file, the
      archives' contents too, and prints how many files it compared. Where
      a file a user gets differs (anything but the build record BUILDINFO,
      and SHA256SUMS but for the record's line), names each file that
      differs and, from the two BUILDINFO records, each tool, package, flag
      or setting of the rebuild that is not the one recorded, and exits with
      status 1. Where only the records differ, says that every shipped file
      is the same and in what the machines differ, and exits with status 0.
"""
import argparse
import hashlib
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import textwrap
import time
import zipfile
import zlib

# Zip entries cannot tell a time before 1980; a time from before then (or no
# commit at all) is given as 1980-01-01 00:00 UTC.
ZIP_EPOCH = 315532800
TEXT_SUFFIXES = (".txt", ".btm")
UTF8_MARK = b"\xef\xbb\xbf"
# The host of an e-mail or web address in a domain that is reserved for
# examples and reaches nobody.
UNREACHABLE = re.compile(r"(?:@|://)((?:[a-z0-9-]+\.)+(?:example|invalid))\b", re.IGNORECASE)
# The user's README: the heading of the section that says where to report a
# problem, whose first sentence names the address when a release has one.
REPORT_HEADING = "Reporting a problem"


def fail(message):
    print("release.py: " + message, file=sys.stderr)
    sys.exit(1)


def write_whole(path, data):
    """Writes path so that no reader ever sees it half-written."""
    with open(path + ".part", "wb") as f:
        f.write(data)
    os.replace(path + ".part", path)


def write_if_changed(path, data):
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except FileNotFoundError:
        pass
    write_whole(path, data)


def release_time(source):
    value = os.environ.get("SOURCE_DATE_EPOCH")
    if value is not None:
        if not re.fullmatch(r"[0-9]+", value):
            fail("SOURCE_DATE_EPOCH is not a number of seconds: %r" % value)
        return int(value)
    try:
        run = subprocess.run(["git", "-C", source, "log", "-1", "--format=%ct"],
                             capture_output=True, text=True, check=False)
    except OSError as error:
        fail("cannot run git for the commit's time (%s); set SOURCE_DATE_EPOCH" % error)
    if run.returncode != 0 or not re.fullmatch(r"[0-9]+\n?", run.stdout):
        fail("no commit's time in %s (%s); set SOURCE_DATE_EPOCH" % (source, run.stderr.strip()))
    return int(run.stdout)


def read_epoch(path):
    with open(path, encoding="ascii") as f:
        return max(int(f.read()), ZIP_EPOCH)


def write_epoch(args):
    write_if_changed(args.out, b"%d\n" % release_time(args.source))
    return 0


def read_encint(data, pos):
    """A compiled help file's variable-length number: 7 bits a byte, high bit
    set on every byte but the last. Returns the number and the next position."""
    value = 0
    while True:
        if pos >= len(data):
            raise ValueError("a number runs past the end of the directory")
        byte = data[pos]
        pos += 1
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            return value, pos


def find_uncompressed(data, wanted):
    """Offset of the file `wanted` of a compiled help file's uncompressed
    section, from the directory's listing chunks. Raises ValueError."""
    if data[:4] != b"ITSF" or len(data) < 0x60:
        raise ValueError("not a compiled help file")
    directory_offset, _ = struct.unpack_from("<QQ", data, 0x48)
    content_offset, = struct.unpack_from("<Q", data, 0x58)
    if data[directory_offset:directory_offset + 4] != b"ITSP":
        raise ValueError("no directory header")
    header_length, = struct.unpack_from("<I", data, directory_offset + 8)
    chunk_size, = struct.unpack_from("<I", data, directory_offset + 0x10)
    chunks, = struct.unpack_from("<I", data, directory_offset + 0x2C)
    first = directory_offset + header_length
    for index in range(chunks):
        chunk = data[first + index * chunk_size:first + (index + 1) * chunk_size]
        if chunk[:4] != b"PMGL":
            continue
        free_space, = struct.unpack_from("<I", chunk, 4)
        pos, end = 0x14, chunk_size - free_space
        while pos < end:
            length, pos = read_encint(chunk, pos)
            name = chunk[pos:pos + length]
            pos += length
            section, pos = read_encint(chunk, pos)
            offset, pos = read_encint(chunk, pos)
            _size, pos = read_encint(chunk, pos)
            if name == wanted:
                if section != 0:
                    raise ValueError("%s is compressed" % wanted.decode())
                return content_offset + offset
    raise ValueError("no %s in the directory" % wanted.decode())


def pin_chm(args):
    epoch = read_epoch(args.epoch_file)
    stamp = (epoch % 86400) * 1000  # milliseconds of the day
    with open(args.chm, "rb") as f:
        data = bytearray(f.read())
    try:
        system = find_uncompressed(bytes(data), b"/#SYSTEM")
        # #SYSTEM: a version, then entries of code, length and data; the
        # help compiler writes the time as the first entry, code 10 of 4 bytes.
        version, code, length = struct.unpack_from("<IHH", data, system)
    except (ValueError, struct.error) as error:
        fail("%s: %s" % (args.chm, error or "cut short"))
    if code != 10 or length != 4:
        fail("%s: #SYSTEM (version %d) does not start with the time entry" % (args.chm, version))
    struct.pack_into("<I", data, system + 8, stamp)
    struct.pack_into(">I", data, 0x10, stamp)  # the header's, big-endian
    write_whole(args.chm, bytes(data))
    return 0


def check_changes(data, version):
    first = data.decode("utf-8").lstrip("\ufeff").split("\n", 1)[0].rstrip("\r")
    match = re.fullmatch(r"Ivro (\S+) \((\d{4})-(\d{2})-(\d{2})\)", first)
    if not match or match.group(1) != version:
        fail("CHANGES must begin with \"Ivro %s (YYYY-MM-DD)\", the entry of this version; it begins with %r"
             % (version, first))
    try:
        time.strptime("-".join(match.groups()[1:]), "%Y-%m-%d")
    except ValueError:
        fail("CHANGES: %r is no date" % first)


def as_shipped(name, data):
    if not name.lower().endswith(TEXT_SUFFIXES):
        return data
    data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    if not data.startswith(UTF8_MARK) and any(byte > 0x7F for byte in data):
        data = UTF8_MARK + data
    return data


def unreachable_addresses(data):
    """The host names in a domain reserved for examples that data holds, as
    8-bit text or as UTF-16 (at either byte alignment)."""
    found = set()
    for text in (data.decode("latin-1"), data.decode("utf-16-le", "replace"),
                 data[1:].decode("utf-16-le", "replace")):
        found.update(match.group(1) for match in UNREACHABLE.finditer(text))
    return sorted(found)


def check_report_address(address):
    if address and not re.fullmatch(r"https?://[^\s\"\\/:?#@]+[^\s\"\\]*|[^\s\"\\@/:]+@[^\s\"\\@/:]+", address):
        fail("the report address is neither an e-mail address nor an http(s) address: %r" % address)
    if unreachable_addresses(address.encode("utf-8")):
        fail("the report address %s is in a domain that reaches nobody" % address)


def with_report_address(data, address):
    """The user's README with the first sentence of its section on reporting
    problems naming the address, the paragraph wrapped as before."""
    text = data.decode("utf-8")
    lines = text.split("\n")
    try:
        start = lines.index(REPORT_HEADING) + 3  # the heading, its underline, a blank line
    except ValueError:
        fail("README.txt has no section %r to give the report address in" % REPORT_HEADING)
    end = start
    while end < len(lines) and lines[end].strip():
        end += 1
    paragraph = " ".join(line.strip() for line in lines[start:end])
    sentence_end = paragraph.find(". ")
    if sentence_end < 0:
        fail("README.txt: the section %r does not begin with a sentence" % REPORT_HEADING)
    paragraph = "Report a problem to %s.%s" % (address, paragraph[sentence_end + 1:])
    width = max(len(line) for line in lines[start:end])
    lines[start:end] = textwrap.wrap(paragraph, width, break_long_words=False, break_on_hyphens=False)
    return "\n".join(lines).encode("utf-8")


def pack(args):
    when = time.gmtime(read_epoch(args.epoch_file))[:6]
    check_report_address(args.report_to)
    files = []
    for item in args.files:
        source, sep, name = item.rpartition("=")
        if not sep or not source or not name or "/" in name:
            fail("expected SOURCE=NAME: %r" % item)
        with open(source, "rb") as f:
            data = f.read()
        if name == "CHANGES.txt":
            check_changes(data, args.version)
        if name == "README.txt" and args.report_to:
            data = with_report_address(data, args.report_to)
        unreachable = unreachable_addresses(data)
        if unreachable:
            fail("%s holds an address that reaches nobody: %s" % (source, ", ".join(unreachable)))
        files.append((name, as_shipped(name, data)))
    sums = "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name) for name, data in files)
    files.append(("SHA256SUMS", sums.encode("ascii")))

    def entry(name, mode):
        info = zipfile.ZipInfo(name, when)
        info.create_system = 3  # Unix, so that the mode below means what it says
        info.external_attr = mode << 16
        return info

    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        folder = entry(args.folder + "/", 0o40755)
        folder.external_attr |= 0x10  # the MS-DOS directory attribute
        archive.writestr(folder, b"")
        for name, data in files:
            archive.writestr(entry(args.folder + "/" + name, 0o100644), data,
                             compress_type=zipfile.ZIP_DEFLATED, compresslevel=9)
    write_whole(args.out, buffer.getvalue())
    return 0


def run_text(command):
    """The output of command, or None when it cannot run or fails."""
    try:
        run = subprocess.run(command, capture_output=True, text=True, check=False,
                             env=dict(os.environ, LC_ALL="C"))
    except OSError:
        return None
    return run.stdout if run.returncode == 0 else None


def first_line(command):
    text = run_text(command)
    return text.splitlines()[0].strip() if text and text.strip() else "unknown"


def commit_of(source):
    head = run_text(["git", "-C", source, "rev-parse", "HEAD"])
    if head is None:
        return "unknown (not a git checkout)"
    changes = run_text(["git", "-C", source, "status", "--porcelain", "--untracked-files=no"])
    return head.strip() + (", with changes not committed" if changes else "")


def compiler_files(compiler):
    """The files that the compiler builds the module from: its programs, its
    runtime's libraries and the headers of Windows and of the runtime."""
    files = [compiler]
    for program in ("cc1plus", "as", "ld"):
        files.append(first_line([compiler, "-print-prog-name=" + program]))
    for library in ("libstdc++.a", "libgcc.a", "libgcc_eh.a", "libmingw32.a", "libmingwex.a",
                    "libmsvcrt.a", "libkernel32.a", "libuser32.a", "dllcrt2.o", "crtbegin.o"):
        files.append(first_line([compiler, "-print-file-name=" + library]))
    try:
        run = subprocess.run([compiler, "-x", "c++", "-std=c++17", "-M", "-"], capture_output=True, text=True,
                             input="#include <windows.h>\n#include <cwchar>\n#include <emmintrin.h>\n", check=False)
        files.extend(name for name in run.stdout.replace("\\\n", " ").split()[1:] if name.startswith("/"))
    except OSError:
        pass
    return files


def loaded_library(stem):
    """The file of the shared library stem (libz) that this process runs."""
    try:
        with open("/proc/self/maps") as f:
            for line in f:
                path = line.split()[-1]
                if os.path.basename(path).startswith(stem + ".so"):
                    return path
    except OSError:
        pass
    return None


def owning_packages(paths):
    """The Debian packages that hold the files, as "name (= version)", and
    the files that none holds."""
    queries = {}
    for path in paths:
        if not path or not os.path.isabs(path):
            continue
        real = os.path.realpath(path)
        # Files of merged /usr are known to dpkg by either name.
        names = {os.path.normpath(path), real}
        names.update(name[4:] for name in list(names) if name.startswith("/usr/"))
        queries[real] = names
    # One question for every name: "pkg, pkg: /path" for each name some
    # package holds (the exit status says that some name none holds).
    every = sorted(set().union(*queries.values())) if queries else []
    holders = {}
    try:
        run = subprocess.run(["dpkg-query", "-S"] + every, capture_output=True, text=True, check=False,
                             env=dict(os.environ, LC_ALL="C")) if every else None
        for line in (run.stdout if run else "").splitlines():
            packages, sep, name = line.rpartition(": ")
            if sep and not line.startswith("diversion "):
                holders.setdefault(name, set()).update(packages.split(", "))
    except OSError:
        pass
    owners, orphans = set(), []
    for real, names in sorted(queries.items()):
        # A link and its target may come from two packages.
        found = set().union(*(holders.get(name, set()) for name in names))
        owners.update(found)
        if not found:
            orphans.append(real)
    packages = []
    if owners:
        text = run_text(["dpkg-query", "-W", "-f", "${binary:Package} (= ${Version})\n"] + sorted(owners)) or ""
        packages = sorted(set(text.splitlines()))
    return packages, orphans


def write_buildinfo(args):
    compiler = shutil.which(args.compiler) or args.compiler
    tools = [("compiler", first_line([compiler, "--version"])),
             ("linker", first_line([first_line([compiler, "-print-prog-name=ld"]), "--version"]))]
    for tool in args.tool:  # those that tell their version; the package tells every one's
        version = first_line([tool, "--version"])
        if version != "unknown":
            tools.append((os.path.basename(tool), version))
    tools.append(("python", "Python %s, zlib %s" % (sys.version.split()[0], zlib.ZLIB_RUNTIME_VERSION)))

    files = compiler_files(compiler) + list(args.tool)
    files += [sys.executable, zipfile.__file__, getattr(zlib, "__file__", None), loaded_library("libz")]
    packages, orphans = owning_packages(files)
    lines = [
        "Format: 1.0",
        "Source: Ivro",
        "Version: " + args.version,
        "Platform: " + args.platform,
        "Commit: " + commit_of(args.source),
        "Source-Date-Epoch: %d" % read_epoch(args.epoch_file),
        "Report-Address: " + (args.report_to or "none"),
        "Build-Command: scripts/release.sh",
        "Compile-Flags: " + " ".join(args.compile_flags.split()),
        "Link-Flags: " + " ".join(args.link_flags.split()),
        "Tools:",
    ]
    lines += [" %s: %s" % tool for tool in tools]
    lines.append("Installed-Build-Depends:")
    lines += [" %s%s" % (package, "," if i + 1 < len(packages) else "") for i, package in enumerate(packages)]
    if orphans:
        lines.append("Files-Of-No-Package:")
        lines += [" " + path for path in sorted(set(orphans))]
    write_if_changed(args.out, ("\n".join(lines) + "\n").encode("utf-8"))
    return 0


def read_records(data):
    """The paragraphs of a BUILDINFO, keyed by platform: each a dict of field
    to value, and for the fields of one item a line (Tools, packages, files)
    a dict of item to its value."""
    records = {}
    for paragraph in data.decode("utf-8", "replace").split("\n\n"):
        fields, name = {}, None
        for line in paragraph.splitlines():
            if line.startswith(" ") and name:
                item = line.strip().rstrip(",")
                if name == "Installed-Build-Depends":
                    key, _, value = item.partition(" ")
                else:
                    key, _, value = item.partition(": ")
                fields[name][key] = value
            elif ":" in line:
                name, _, value = line.partition(":")
                value = value.strip()
                fields[name] = value if value else {}
        if fields:
            records[fields.get("Platform", "")] = fields
    return records


def record_differences(recorded, rebuilt):
    """What the rebuild's record says differently from the recorded one."""
    lines = []
    for platform in sorted(set(recorded) | set(rebuilt)):
        prefix = "%s: " % platform if platform else ""
        if platform not in rebuilt or platform not in recorded:
            lines.append("%sonly the %s release records this platform"
                         % (prefix, "recorded" if platform in recorded else "rebuilt"))
            continue
        old, new = recorded[platform], rebuilt[platform]
        for field in sorted(set(old) | set(new)):
            a, b = old.get(field, ""), new.get(field, "")
            if a == b:
                continue
            if isinstance(a, dict) or isinstance(b, dict):
                a, b = a or {}, b or {}
                for key in sorted(set(a) | set(b)):
                    if a.get(key) != b.get(key):
                        lines.append("%s%s %s: recorded %s, here %s" % (
                            prefix, field, key, a.get(key, "(none)"), b.get(key, "(none)")))
            else:
                lines.append("%s%s: recorded %s, here %s" % (prefix, field, a or "(none)", b or "(none)"))
    return lines


def release_files(path):
    """name -> bytes of a release folder's files (or of one archive), each
    archive's entries also, as ARCHIVE!ENTRY."""
    names = sorted(os.listdir(path)) if os.path.isdir(path) else [os.path.basename(path)]
    folder = path if os.path.isdir(path) else os.path.dirname(path)
    files = {}
    for name in names:
        with open(os.path.join(folder, name), "rb") as f:
            files[name] = f.read()
        if name.endswith(".zip"):
            try:
                with zipfile.ZipFile(io.BytesIO(files[name])) as archive:
                    for entry in archive.infolist():
                        files["%s!%s" % (name, entry.filename)] = archive.read(entry)
            except zipfile.BadZipFile as error:
                files["%s!" % name] = str(error).encode()
    return files


def buildinfo_of(files):
    """The BUILDINFO of a release's files: the one beside the archives, else
    the first one in an archive (where earlier releases carried it)."""
    if "BUILDINFO" in files:
        return files["BUILDINFO"]
    inside = sorted(name for name in files if name.endswith("/BUILDINFO"))
    return files[inside[0]] if inside else None


def shipped(name, data):
    """What of a release file a user gets, to compare: None for the build
    record, which describes the machine; the checksums beside the archives
    without the record's line."""
    if name == "BUILDINFO" or name.endswith("/BUILDINFO"):
        return None
    if name == "SHA256SUMS":
        return b"".join(line for line in data.splitlines(True) if not line.rstrip().endswith(b"  BUILDINFO"))
    return data


def compare(args):
    recorded, rebuilt = release_files(args.recorded), release_files(args.rebuilt)
    differences, files = [], []
    for name in sorted(set(recorded) | set(rebuilt)):
        a, b = recorded.get(name), rebuilt.get(name)
        if a is None or b is None:
            differences.append("%s: only in the %s release" % (name, "recorded" if b is None else "rebuilt"))
            files.append(name)
        elif a != b:
            first = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
            count = sum(x != y for x, y in zip(a, b)) + abs(len(a) - len(b))
            differences.append("%s differs from byte %d on, %d bytes in all (%d and %d bytes long)"
                               % (name, first + 1, count, len(a), len(b)))
            if shipped(name, a) != shipped(name, b):
                files.append(name)
    if not differences:
        print("%d files" % len(recorded))
        return 0
    old, new = buildinfo_of(recorded), buildinfo_of(rebuilt)
    causes = record_differences(read_records(old), read_records(new)) if old and new else []
    if not files:
        # The machines differ; what a user gets does not.
        print("%d files" % len(recorded))
        print("compare: every shipped file is the same; the machines differ in:", file=sys.stderr)
        for line in causes or ["nothing their records name (the records differ all the same)"]:
            print("compare:   " + line, file=sys.stderr)
        return 0
    for line in differences:
        print("compare: " + line, file=sys.stderr)
    print("compare: shipped files that differ: " + ", ".join(files), file=sys.stderr)
    if old is None or new is None:
        print("compare: the %s release has no BUILDINFO, so nothing says what differs in the build"
              % ("recorded" if old is None else "rebuilt"), file=sys.stderr)
        return 1
    if causes:
        print("compare: where the build here differs from the recorded one:", file=sys.stderr)
        for line in causes:
            print("compare:   " + line, file=sys.stderr)
    else:
        print("compare: both were built with the same recorded tools, flags and settings", file=sys.stderr)
    return 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    epoch = sub.add_parser("epoch")
    epoch.add_argument("--source", required=True)
    epoch.add_argument("--out", required=True)
    chm = sub.add_parser("pin-chm")
    chm.add_argument("--epoch-file", required=True)
    chm.add_argument("chm")
    zip_ = sub.add_parser("pack")
    zip_.add_argument("--epoch-file", required=True)
    zip_.add_argument("--version", required=True)
    zip_.add_argument("--folder", required=True)
    zip_.add_argument("--report-to", required=True, metavar="ADDRESS")
    zip_.add_argument("--out", required=True)
    zip_.add_argument("files", nargs="+", metavar="SOURCE=NAME")
    info = sub.add_parser("buildinfo")
    for option in ("--out", "--source", "--epoch-file", "--version", "--platform", "--compiler",
                   "--compile-flags", "--link-flags"):
        info.add_argument(option, required=True)
    info.add_argument("--report-to", required=True, metavar="ADDRESS")
    info.add_argument("--tool", action="append", default=[], metavar="PATH")
    comparing = sub.add_parser("compare")
    comparing.add_argument("recorded")
    comparing.add_argument("rebuilt")
    args = parser.parse_args()
    return {"epoch": write_epoch, "pin-chm": pin_chm, "pack": pack, "buildinfo": write_buildinfo,
            "compare": compare}[args.command](args)


if __name__ == "__main__":
    sys.exit(main())
