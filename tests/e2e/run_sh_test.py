#!/usr/bin/python3
"""./run.sh as a new user meets it: on a real terminal (a pseudo-terminal
that this test holds the other end of), started from a directory of its own.

  run_sh_test.py --run-sh PATH/run.sh --platform x86|x64 [--build DIR]

Each case starts run.sh in a fresh directory with standard input, output and
error on the terminal, and reads what the terminal receives: a character
beyond U+FFFF must arrive whole (as its four UTF-8 bytes, never as
replacement characters), a batch file must be found by its Linux name,
relative or absolute, and what it writes must land in that directory.
Exit status 0 when every case holds, 1 otherwise, 77 (skipped) when no
terminal can be had.
"""
import argparse
import os
import pty
import select
import subprocess
import sys
import tempfile
import termios
import time

SMILEY = "\U0001F600"
REPLACEMENT = "\ufffd"
BATCH = "echo [%@exp[\\U1F600]] [%0]\r\necho written> out.txt\r\n"

# Each case: its name, run.sh's arguments (after the platform; {dir} is the
# case's directory), lines typed on the terminal, and what the terminal must
# show. Every case also checks that no replacement character arrives.
CASES = [
    ("one line", ["-c", "echo [%@exp[\\U1F600]]"], [], ["[" + SMILEY + "]"]),
    ("batch file, relative Linux name", ["sub/rel.btm"], [], ["[" + SMILEY + "] [sub/rel.btm]"]),
    ("batch file, absolute Linux name", ["{dir}/sub/rel.btm"], [], ["[" + SMILEY + "] [Z:"]),
    ("batch file, Windows name", ["sub\\rel.btm"], [], ["[" + SMILEY + "] [sub\\rel.btm]"]),
    # What is typed shows too: wine's console, which reads the keys, writes
    # them to the terminal.
    ("lines typed at the prompt", ["-i"], ["echo [%@exp[\\U1F600]]", "exit 0"],
     ["echo [%@exp[\\U1F600]]", "[" + SMILEY + "]"]),
]


def run_on_terminal(command, cwd, typed, timeout):
    """Runs command with a pseudo-terminal as its standard streams; types each
    line of `typed` (with the Enter key) once the program has shown a prompt
    and reads the keys. Returns what the terminal received and the exit
    status."""
    master, slave = pty.openpty()
    try:
        process = subprocess.Popen(command, cwd=cwd, stdin=slave, stdout=slave, stderr=slave,
                                   start_new_session=True)
    finally:
        os.close(slave)
    received = b""
    deadline = time.monotonic() + timeout
    pending = list(typed)
    try:
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                process.kill()
                received += b"\n[run_sh_test: no end after %d s]" % timeout
                break
            ready = select.select([master], [], [], min(left, 0.5))[0]
            if ready:
                try:
                    data = os.read(master, 65536)
                except OSError:  # the terminal's other end is closed: the program ended
                    data = b""
                if not data:
                    break
                received += data
            # Wine's console reads the terminal key by key: a line typed
            # before it has switched the terminal out of line mode would be
            # taken by the terminal's own line editing instead.
            if pending and b"> " in received and not termios.tcgetattr(master)[3] & termios.ICANON:
                os.write(master, pending.pop(0).encode("utf-8") + b"\r")
            elif process.poll() is not None:
                break
    finally:
        os.close(master)
    return received.decode("utf-8", "replace"), process.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--run-sh", required=True)
    parser.add_argument("--platform", required=True, choices=["x86", "x64"])
    parser.add_argument("--build", help="the build folder under test: skip unless run.sh runs that one")
    parser.add_argument("--timeout", type=int, default=120, help="seconds one case may take")
    args = parser.parse_args()
    if args.build:
        common = os.path.join(os.path.dirname(os.path.abspath(args.run_sh)), "scripts", "common.sh")
        used = subprocess.run(["bash", "-c", '. "$1" && win_build "$2"', "-", common, args.platform],
                              capture_output=True, text=True).stdout.strip()
        if os.path.realpath(used) != os.path.realpath(args.build):
            print("SKIPPED: run.sh builds and runs %s, not the build under test, %s" % (used, args.build))
            return 77
    try:
        for end in pty.openpty():
            os.close(end)
    except OSError as error:
        print("SKIPPED: no pseudo-terminal can be opened here (%s), so what a terminal receives "
              "cannot be checked" % error)
        return 77

    faults = 0
    for name, arguments, typed, wanted in CASES:
        with tempfile.TemporaryDirectory(prefix="run sh ") as work:
            os.mkdir(os.path.join(work, "sub"))
            with open(os.path.join(work, "sub", "rel.btm"), "w", encoding="ascii") as f:
                f.write(BATCH)
            command = [os.path.abspath(args.run_sh), "--" + args.platform]
            command += [a.replace("{dir}", work) for a in arguments]
            shown, status = run_on_terminal(command, work, typed, args.timeout)
            problems = ["does not show %r" % w for w in wanted if w not in shown]
            if REPLACEMENT in shown:
                problems.append("shows a replacement character")
            if status != 0:
                problems.append("exit status %d" % status)
            if "rel.btm" in " ".join(arguments) and not os.path.exists(os.path.join(work, "out.txt")):
                problems.append("the batch file's out.txt is not in the directory run.sh was started from")
            if problems:
                faults += 1
                print("%s: %s\n  run.sh %s\n  the terminal showed:\n    %s" % (
                    name, "; ".join(problems), " ".join(command[1:]), shown.replace("\n", "\n    ")))
            else:
                print("%s: ok" % name)
    print("%d cases, %d faults" % (len(CASES), faults))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
