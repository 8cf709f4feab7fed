#!/usr/bin/python3
"""The release's record and checks, on the archive this build made:

  release_test.py --release-script cmake/release.py --zip Ivro-V-P.zip
                  --buildinfo BUILDINFO --compiler-package NAME --winnt 0x501
                  --version V --readme README-user.txt --changes CHANGES

- the build's BUILDINFO records this machine's compiler package by version
  and the oldest Windows the module is built for, and the archive does not
  carry it (it stands beside the archives);
- a release compared with a copy of itself is the same; one recorded with
  another version of the compiler package, every shipped file the same, is
  the same release, and the comparison says in what the machines differ; one
  whose shipped file differs is not, and the comparison names the file, the
  package and both versions;
- the report address: one in a domain reserved for examples is refused, as is
  any shipped file that holds one; a real one takes the first sentence of the
  README's section on reporting problems.
"""
import argparse
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

ARGS = None


def run(*args):
    return subprocess.run([sys.executable, ARGS.release_script, *args], capture_output=True, text=True, check=False)


def archive_entries(path):
    with zipfile.ZipFile(path) as archive:
        return {entry.filename: archive.read(entry) for entry in archive.infolist()}


def rewrite_archive(path, change):
    """Rewrites every entry of the archive through change(name, data)."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(path) as source, zipfile.ZipFile(buffer, "w") as target:
        for entry in source.infolist():
            target.writestr(entry, change(entry.filename, source.read(entry)))
    with open(path, "wb") as f:
        f.write(buffer.getvalue())


class Record(unittest.TestCase):
    def setUp(self):
        with open(ARGS.buildinfo, "rb") as f:
            self.record = f.read()
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work)

    def release(self, name):
        """A release folder holding this build's archive and record."""
        folder = os.path.join(self.work, name)
        os.mkdir(folder)
        shutil.copy(ARGS.zip, folder)
        shutil.copy(ARGS.buildinfo, folder)
        return folder

    def test_the_record_tells_this_machine_and_stays_out_of_the_archive(self):
        inside = [name for name in archive_entries(ARGS.zip) if name.endswith("BUILDINFO")]
        self.assertEqual(inside, [])
        version = subprocess.run(["dpkg-query", "-W", "-f", "${Version}", ARGS.compiler_package],
                                 capture_output=True, text=True, check=True).stdout
        text = self.record.decode()
        self.assertIn("\n %s (= %s)" % (ARGS.compiler_package, version), text)
        self.assertRegex(text, r"\nCompile-Flags: .*-D_WIN32_WINNT=%s " % ARGS.winnt)
        self.assertRegex(text, r"\nSource-Date-Epoch: [0-9]+\n")
        self.assertNotIn("Files-Of-No-Package", text)

    def test_a_release_compares_equal_to_its_copy(self):
        result = run("compare", self.release("recorded"), self.release("rebuilt"))
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        self.assertRegex(result.stdout, r"^[0-9]+ files\n$")

    def recorded_with_an_older_compiler(self):
        """A release folder whose record names another version of this
        machine's compiler package."""
        recorded = self.release("recorded")
        package = re.escape(ARGS.compiler_package.encode())
        with open(os.path.join(recorded, "BUILDINFO"), "rb") as f:
            data = re.sub(rb"\n (" + package + rb") \(= [^)]*\)", rb"\n \g<1> (= 1.0-older)", f.read())
        with open(os.path.join(recorded, "BUILDINFO"), "wb") as f:
            f.write(data)
        return recorded

    @staticmethod
    def with_checksums(folder):
        """The folder with SHA256SUMS of its files, as scripts/release.sh
        writes it beside the archives."""
        names = sorted(os.listdir(folder))
        lines = []
        for name in names:
            with open(os.path.join(folder, name), "rb") as f:
                lines.append("%s  %s\n" % (hashlib.sha256(f.read()).hexdigest(), name))
        with open(os.path.join(folder, "SHA256SUMS"), "w") as f:
            f.write("".join(lines))
        return folder

    def test_a_machine_that_differs_alone_makes_the_same_release(self):
        # The checksums beside the archives differ in the record's line alone.
        result = run("compare", self.with_checksums(self.recorded_with_an_older_compiler()),
                     self.with_checksums(self.release("rebuilt")))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stdout, r"^[0-9]+ files\n$")
        self.assertIn("compare: every shipped file is the same; the machines differ in:", result.stderr)
        self.assertIn("Installed-Build-Depends %s: recorded (= 1.0-older), here (= " % ARGS.compiler_package,
                      result.stderr)
        self.assertNotIn("differs from byte", result.stderr)

    def test_a_shipped_file_that_differs_is_named_with_the_tool(self):
        recorded = self.recorded_with_an_older_compiler()
        zip_name = os.path.basename(ARGS.zip)
        readme = "%s/README.txt" % zip_name[:-4]
        rewrite_archive(os.path.join(recorded, zip_name),
                        lambda name, data: data + b"\r\n" if name == readme else data)

        result = run("compare", recorded, self.release("rebuilt"))
        self.assertEqual(result.returncode, 1)
        for line in ("compare: BUILDINFO differs", "compare: %s differs" % zip_name,
                     "compare: %s!%s differs" % (zip_name, readme),
                     "compare: shipped files that differ: %s, %s!%s" % (zip_name, zip_name, readme),
                     "Installed-Build-Depends %s: recorded (= 1.0-older), here (= " % ARGS.compiler_package):
            self.assertIn(line, result.stderr)


class ReportAddress(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work)
        self.epoch = os.path.join(self.work, "epoch")
        with open(self.epoch, "w") as f:
            f.write("1796682588\n")

    def pack(self, address, extra=()):
        out = os.path.join(self.work, "out.zip")
        result = run("pack", "--epoch-file", self.epoch, "--version", ARGS.version, "--folder", "Ivro",
                     "--report-to", address, "--out", out, ARGS.readme + "=README.txt",
                     ARGS.changes + "=CHANGES.txt", *extra)
        readme = archive_entries(out)["Ivro/README.txt"] if result.returncode == 0 else b""
        return result, readme.decode("utf-8-sig").replace("\r\n", "\n")

    def test_addresses_that_reach_nobody_are_refused(self):
        for address, message in [
            ("ivro@users.noreply.example", "in a domain that reaches nobody"),
            ("https://ivro.example/", "in a domain that reaches nobody"),
            ("https://Bugs.Ivro.INVALID/new", "in a domain that reaches nobody"),
            ("bugs at ivro dot org", "neither an e-mail address nor an http(s) address"),
            ("ftp://ivro.org/", "neither an e-mail address nor an http(s) address"),
        ]:
            result, _ = self.pack(address)
            self.assertEqual(result.returncode, 1, address)
            self.assertIn(message, result.stderr, address)

    def test_a_shipped_file_with_such_an_address_is_refused(self):
        for text in [b"Write to ivro@users.noreply.example.", b"See https://ivro.example/.",
                     "https://help.invalid/".encode("utf-16-le"),  # as in the module
                     b"\0" + "mailto:bugs@ivro.EXAMPLE".encode("utf-16-le")]:
            path = os.path.join(self.work, "shipped.dll")
            with open(path, "wb") as f:
                f.write(b"MZ\x90\0" + text)
            result, _ = self.pack("", [path + "=Ivro-x86.dll"])
            self.assertEqual(result.returncode, 1, text)
            self.assertIn("shipped.dll holds an address that reaches nobody", result.stderr)

    def test_the_address_takes_the_first_sentence_of_the_report_section(self):
        _, plain = self.pack("")
        with open(ARGS.readme, encoding="utf-8") as f:
            self.assertEqual(plain, f.read())
        section = plain[plain.index("Reporting a problem"):]
        self.assertIn("to whoever provided this archive", section)
        width = max(len(line) for line in section.split("\n"))
        for address in ["https://bugs.ivro.test/issues", "bugs@ivro.test"]:
            result, readme = self.pack(address)
            self.assertEqual((result.returncode, result.stderr), (0, ""), address)
            section = readme[readme.index("Reporting a problem"):]
            self.assertRegex(section, r"^Reporting a problem\n-+\n\nReport a problem to %s\. Say which archive"
                             % re.escape(address))
            self.assertNotIn("whoever", section)
            self.assertLessEqual(max(len(line) for line in section.split("\n")), width)
            self.assertEqual(readme[:readme.index("Reporting a problem")], plain[:plain.index("Reporting a problem")])


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("--release-script", "--zip", "--buildinfo", "--compiler-package", "--winnt", "--version",
                   "--readme", "--changes"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
