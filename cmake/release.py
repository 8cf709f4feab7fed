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

  release.py pack --epoch-file FILE --version V --folder NAME --out ZIP SOURCE=NAME...
      Writes the release archive ZIP: one folder NAME that holds each SOURCE
      file under its NAME, in the order given, and SHA256SUMS, the checksum of
      each of them. Every entry carries the release's time and the same
      attributes; text files (.txt, .btm) get Windows line ends, and a UTF-8
      byte-order mark when they hold anything beyond ASCII, so that Notepad
      shows them right. The file named CHANGES.txt must begin with the entry
      of version V and its date: "Ivro V (YYYY-MM-DD)".
"""
import argparse
import hashlib
import io
import os
import re
import struct
import subprocess
import sys
import time
import zipfile

# Zip entries cannot tell a time before 1980; a time from before then (or no
# commit at all) is given as 1980-01-01 00:00 UTC.
ZIP_EPOCH = 315532800
TEXT_SUFFIXES = (".txt", ".btm")
UTF8_MARK = b"\xef\xbb\xbf"


def fail(message):
    print("release.py: " + message, file=sys.stderr)
    sys.exit(1)


def write_whole(path, data):
    """Writes path so that no reader ever sees it half-written."""
    with open(path + ".part", "wb") as f:
        f.write(data)
    os.replace(path + ".part", path)


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
    text = "%d\n" % release_time(args.source)
    try:
        with open(args.out, encoding="ascii") as f:
            if f.read() == text:
                return 0
    except FileNotFoundError:
        pass
    write_whole(args.out, text.encode("ascii"))
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


def pack(args):
    when = time.gmtime(read_epoch(args.epoch_file))[:6]
    files = []
    for item in args.files:
        source, sep, name = item.rpartition("=")
        if not sep or not source or not name or "/" in name:
            fail("expected SOURCE=NAME: %r" % item)
        with open(source, "rb") as f:
            data = f.read()
        if name == "CHANGES.txt":
            check_changes(data, args.version)
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
    zip_.add_argument("--out", required=True)
    zip_.add_argument("files", nargs="+", metavar="SOURCE=NAME")
    args = parser.parse_args()
    return {"epoch": write_epoch, "pin-chm": pin_chm, "pack": pack}[args.command](args)


if __name__ == "__main__":
    sys.exit(main())
