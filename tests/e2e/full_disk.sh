#!/usr/bin/env bash
# @expwrite on a full file system: a line or byte-order mark that only partly
# reaches the file must give -1 and leave the file exactly as it was before
# the call; what the file held before stays as it was.
#   full_disk.sh WINE_RUN IVSH WORK_DIR MODULE_TESTS
# Mounts a 64 KiB tmpfs (16 pages) in WORK_DIR (root only; it skips, with
# exit code 77 and the reason, where mounting is not allowed), then for UTF-8
# and UTF-16 output:
# - fills a file to 7 bytes more than one line short of full and writes that
#   line twice: the first fits, the second gets 7 bytes in, which end inside
#   a character (UTF-8) or a unit (UTF-16);
# - leaves one page free and writes a line longer than a page to an empty
#   file: the mark and part of the line go in;
# - leaves nothing free: not even the mark goes in;
# - fills the disk with one file and writes the line 3 bytes before its end:
#   it overwrites those 3 and the disk refuses the rest; they come back, and
#   the handle stays where it was;
# - with one page free, a handle that may only append, at or past the end of
#   its file (module_tests' ExpWriteFullDisk, as the shell opens no such
#   handle): what got in at the end is taken back.
set -uo pipefail
run=$1 ivsh=$2 work=$3 module_tests=$4
mnt=$work/full-disk

mkdir -p "$mnt"
mountpoint -q "$mnt" && umount "$mnt"
if ! error=$(mount -t tmpfs -o size=64k ivro-full "$mnt" 2>&1); then
    echo "SKIPPED: cannot mount a small tmpfs to fill (needs root): $error"
    exit 77
fi
trap 'umount "$mnt"' EXIT

failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# The Windows name of a file on the tmpfs (wine's Z: is the root).
windows_path() { echo "Z:${1//\//\\}"; }

# shell OPTION COMMAND: the first line the shell prints for COMMAND.
shell() {
    "$run" "$ivsh" -o "$1" -c "$2" 2>&1 | tr -d '\0\r' | head -n1
}

# write OPTION FILE MODE TEXT...: each TEXT written to FILE, opened in MODE,
# with @expwrite by one run of the shell; prints the results.
write() {
    local option=$1 file=$2 mode=$3 command
    shift 3
    command="set h=%@fileopen[$(windows_path "$file"),$mode] & echo"
    for text in "$@"; do
        command+=" %@expwrite[%h%,$text]"
    done
    shell "$option" "$command & echo %@fileclose[%h%]"
}

# check OPTION ENCODING RESULT: one output encoding (iconv's name for it), in
# which the line "ab" and six euro signs gives RESULT, its units or bytes.
check() {
    local option=$1 encoding=$2 result=$3
    local file=$mnt/lines.txt expected=$work/full-disk-expected
    local text='ab\u20ac\u20ac\u20ac\u20ac\u20ac\u20ac' euro=$'\xE2\x82\xAC' line=$work/full-disk-line
    printf 'ab%s%s%s%s%s%s\r\n' "$euro" "$euro" "$euro" "$euro" "$euro" "$euro" | iconv -f UTF-8 -t "$encoding" >"$line"
    local bytes
    bytes=$(stat -c %s "$line")
    rm -f "$mnt"/*
    # Room for the line and 7 bytes more in the file's last page.
    head -c $((65536 - bytes - 7)) /dev/urandom >"$file"
    cat "$file" "$line" >"$expected"
    local size_before first second
    size_before=$(stat -c %s "$file")
    read -r first second <<<"$(write "$option" "$file" append "$text" "$text")"
    [ "$first" = "$result" ] || fail "$option: the line that fits gave '$first', not $result"
    [ "$second" = -1 ] || fail "$option: the line cut short by the full disk gave '$second', not -1"
    # The earlier content, the first line whole, and nothing of the second.
    cmp -s "$file" "$expected" ||
        fail "$option: the file is not what it was before the line that did not fit" \
            "($(stat -c %s "$file") bytes, $(stat -c %s "$expected") expected)"
    echo "$option: first line $first, second line $second; file $size_before -> $(stat -c %s "$file") bytes"

    # One page free: the mark and the first page of a longer line go in, and
    # are taken back.
    local empty=$mnt/empty.txt long=''
    rm -f "$mnt"/*
    head -c $((65536 - 4096)) /dev/zero >"$mnt/filler"
    : >"$empty"
    for _ in $(seq 1050); do long+='\U1F600'; done
    read -r first <<<"$(write "$option" "$empty" write "$long")"
    [ "$first" = -1 ] || fail "$option: a line longer than the free page gave '$first', not -1"
    [ "$(stat -c %s "$empty")" = 0 ] || fail "$option: the mark and part of the line stayed ($(stat -c %s "$empty") bytes)"

    # Nothing free: not even the mark goes in, and the file stays empty.
    head -c 4096 /dev/zero >>"$mnt/filler" 2>/dev/null
    read -r first <<<"$(write "$option" "$empty" write "$text")"
    [ "$first" = -1 ] || fail "$option: a mark that does not fit gave '$first', not -1"
    [ "$(stat -c %s "$empty")" = 0 ] || fail "$option: the empty file took $(stat -c %s "$empty") bytes"

    # Inside a file that fills the disk: 3 bytes before its end the line
    # overwrites 3 bytes, and the disk takes no more.
    rm -f "$mnt"/*
    head -c 65536 /dev/urandom >"$file" 2>/dev/null
    cp "$file" "$expected"
    local at=$(($(stat -c %s "$file") - 3)) seek after closed
    read -r seek first after closed <<<"$(shell "$option" "set h=%@fileopen[$(windows_path "$file"),append] & echo %@fileseek[%h%,-3,2] %@expwrite[%h%,$text] %@fileseek[%h%,0,1] %@fileclose[%h%]")"
    [ "$seek" = "$at" ] || fail "$option: the handle was not put 3 bytes before the end ('$seek', not $at)"
    [ "$first" = -1 ] || fail "$option: a line that the full disk cut inside the file gave '$first', not -1"
    [ "$after" = "$at" ] || fail "$option: the handle moved from $at to '$after'"
    cmp -s "$file" "$expected" || fail "$option: the bytes the line overwrote inside the file did not come back"
    echo "$option: a line inside the file at $at gave $first, the handle then at $after"
}

check utf8output=yes UTF-8 22
check unicodeoutput=yes UTF-16LE 10

rm -f "$mnt"/*
head -c $((65536 - 4096)) /dev/zero >"$mnt/filler"
if (cd "$(dirname "$module_tests")" && IVRO_FULL_DISK=$(windows_path "$mnt") "$run" "$module_tests" \
    --gtest_also_run_disabled_tests --gtest_filter='ExpWriteFullDisk.*') >"$work/full-disk-append.log" 2>&1; then
    echo "appending at and past the end: every line taken back"
else
    grep -E 'Failure|Expected|Which is|Value of|bytes|access' "$work/full-disk-append.log" | head -40
    fail "a handle that only appends, at or past the end, kept part of a line"
fi
[ "$failures" = 0 ] && echo "full disk: every short write reported as -1, and every file left as it was"
exit $((failures > 0))
