#!/usr/bin/env bash
# @expwrite on a full file system: a line that only partly reaches the file
# must give -1, and what the file held before must stay as it was.
#   full_disk.sh WINE_RUN IVSH WORK_DIR
# Mounts a 64 KiB tmpfs in WORK_DIR (root only; it skips, with exit code 77
# and the reason, where mounting is not allowed), then for UTF-8 and UTF-16
# output fills a file to 30 bytes short of full and writes two lines of 20
# characters: the first fits, the second does not.
set -uo pipefail
run=$1 ivsh=$2 work=$3
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

# check OPTION LINE_BYTES: one run of the shell in one output encoding, whose
# line of 20 characters and CR LF takes LINE_BYTES bytes.
check() {
    local option=$1 bytes=$2
    local file=$mnt/lines.txt line=0123456789abcdefghij
    rm -f "$mnt"/*
    # Room for the first line and 8 bytes more in the file's last page: the
    # second line gets 8 of its bytes in, and that is all.
    head -c $((65536 - bytes - 8)) /dev/urandom >"$file"
    local size_before saved
    size_before=$(stat -c %s "$file")
    saved=$(sha256sum <"$file")
    local out first second
    out=$("$run" "$ivsh" -o "$option" -c \
        "set h=%@fileopen[$(windows_path "$file"),append] & echo %@expwrite[%h%,$line] %@expwrite[%h%,$line] & echo %@fileclose[%h%]" \
        2>&1 | tr -d '\0\r')
    read -r first second <<<"$(head -n1 <<<"$out")"
    [ "$first" = 22 ] || fail "$option: the line that fits gave '$first', not 22 ($out)"
    [ "$second" = -1 ] || fail "$option: the line cut short by the full disk gave '$second', not -1 ($out)"

    # What was there before is intact, and the first line follows it whole.
    [ "$(head -c "$size_before" "$file" | sha256sum)" = "$saved" ] || fail "$option: the earlier content changed"
    local expected
    expected=$(printf '%s\r\n' "$line" | iconv -f UTF-8 -t "$([ "$bytes" = 44 ] && echo UTF-16LE || echo UTF-8)" | od -An -tx1)
    [ "$(tail -c +$((size_before + 1)) "$file" | head -c "$bytes" | od -An -tx1)" = "$expected" ] ||
        fail "$option: the first line is not in the file whole"
    echo "$option: first line $first, second line $second; file $size_before -> $(stat -c %s "$file") bytes"

    # An empty file on the full file system takes not even the byte-order
    # mark: that is a failed write too, and the file stays empty.
    local empty=$mnt/empty.txt
    : >"$empty"
    head -c 65536 /dev/zero >>"$file" 2>/dev/null
    local h
    h=$(windows_path "$empty")
    out=$("$run" "$ivsh" -o "$option" -c \
        "set h=%@fileopen[$h,write] & echo %@expwrite[%h%,$line] & echo %@fileclose[%h%]" 2>&1 | tr -d '\0\r')
    read -r first <<<"$(head -n1 <<<"$out")"
    [ "$first" = -1 ] || fail "$option: a mark that does not fit gave '$first', not -1"
    [ "$(stat -c %s "$empty")" = 0 ] || fail "$option: the empty file took $(stat -c %s "$empty") bytes"
}

check utf8output=yes 22
check unicodeoutput=yes 44
[ "$failures" = 0 ] && echo "full disk: every short write reported as -1"
exit $((failures > 0))
