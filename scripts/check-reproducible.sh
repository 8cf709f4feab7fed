#!/usr/bin/env bash
# Builds the release (scripts/release.sh) twice, in two clones of the
# checked-out commit in folders of different names, a few seconds apart, and
# compares every release file byte for byte: both archives, the SHA256SUMS
# beside them, and each file inside the archives. When the working tree is
# that commit, unchanged, the release built in it (build/release, made again
# here) must be the same too. Uncommitted changes are not in the clones:
# commit first to check them.
#   scripts/check-reproducible.sh
set -euo pipefail
. "$(dirname "$0")/common.sh"

commit=$(git -C "$ROOT" rev-parse HEAD)
work=$(mktemp -d "${TMPDIR:-/tmp}/ivro-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The time must come from the commit, whoever builds it and whenever.
unset SOURCE_DATE_EPOCH

# collect RELEASE OUT: the files of the release folder RELEASE in OUT, the
# archives also unpacked.
collect() {
    local release=$1 out=$2 zip
    mkdir -p "$out/unpacked"
    cp "$release"/* "$out/"
    for zip in "$release"/*.zip; do
        (cd "$out/unpacked" && cmake -E tar xf "$zip")
    done
}

# compare A B: the collected files of A and B are the same, name for name.
compare() {
    local a=$1 b=$2 differences name
    differences=$(diff -r -q "$a" "$b") && return 0
    while IFS= read -r line; do
        if [[ $line =~ ^Files\ (.*)\ and\ (.*)\ differ$ ]]; then
            name=${BASH_REMATCH[1]#"$a/"}
            echo "check-reproducible: $name differs: $(cmp "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}" | sed 's/.*differ: //')," \
                "$(cmp -l "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}" 2>/dev/null | wc -l) bytes in all" >&2
        else
            echo "check-reproducible: $line" >&2
        fi
    done <<<"$differences"
    return 1
}

trees=("$work/one" "$work/a-clone-with-a-longer-name")
for tree in "${trees[@]}"; do
    git clone --quiet --no-checkout "$ROOT" "$tree"
    git -C "$tree" checkout --quiet --detach "$commit"
    if ! "$tree/scripts/release.sh" >"$tree.log" 2>&1; then
        cat "$tree.log" >&2
        echo "check-reproducible: the release of $commit does not build in $tree" >&2
        exit 1
    fi
    collect "$tree/build/release" "$tree.files"
    sleep 2
done
status=0
compare "${trees[0]}.files" "${trees[1]}.files" || status=1
count=$(find "${trees[0]}.files" -type f | wc -l)

if [ -z "$(git -C "$ROOT" status --porcelain)" ]; then
    if ! "$ROOT/scripts/release.sh" >"$work/here.log" 2>&1; then
        cat "$work/here.log" >&2
        echo "check-reproducible: the release does not build in $ROOT" >&2
        exit 1
    fi
    collect "$ROOT/build/release" "$work/here.files"
    compare "${trees[0]}.files" "$work/here.files" || status=1
    also=" and in $ROOT"
else
    also=" (the working tree has changes, so its own release is left out)"
fi
if [ $status = 0 ]; then
    echo "The release of $commit, $count files, is the same byte for byte in two clones$also."
fi
exit $status
