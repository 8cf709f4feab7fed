#!/usr/bin/env bash
# Builds the release (scripts/release.sh) twice, in folders of different
# names a few seconds apart, and compares every release file byte for byte:
# both archives, BUILDINFO and SHA256SUMS beside them, and each file inside
# the archives. When the working tree is the checked-out commit, unchanged,
# the two are the release built in it (build/release, made again here) and
# one clone of the commit; otherwise two clones. Uncommitted changes are not
# in the clones: commit first to check them.
#
# Given a release folder made elsewhere (the two archives, BUILDINFO and
# SHA256SUMS, as published), it rebuilds that release instead: the commit,
# the time and the report address that its BUILDINFO records, in two clones,
# and compares the rebuild with it too. BUILDINFO, beside the archives,
# records the machine; every other file is what a user gets. When those are
# the same and only the machines differ (a package's point release, say),
# the check passes and names what differs; when a shipped file differs, it
# fails naming the file and, from the two build records, each tool,
# package, flag or setting of this machine that is not the one recorded.
#   scripts/check-reproducible.sh [RELEASE-FOLDER]
set -euo pipefail
. "$(dirname "$0")/common.sh"

recorded=${1:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/ivro-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
PYTHON=/usr/bin/python3
compare() { "$PYTHON" "$ROOT/cmake/release.py" compare "$@"; }

# field NAME: the value of NAME in the recorded release's BUILDINFO (its
# first platform's; both record the same commit, time and address).
field() {
    sed -n "s/^$1: //p" "$recorded/BUILDINFO" | head -n 1
}

if [ -n "$recorded" ]; then
    recorded=$(cd "$recorded" && pwd)
    [ -f "$recorded/BUILDINFO" ] || { echo "check-reproducible: $recorded has no BUILDINFO" >&2; exit 1; }
    commit=$(field Commit)
    if ! [[ $commit =~ ^[0-9a-f]{40}$ ]]; then
        echo "check-reproducible: the release was built from \"$commit\", not from a commit alone" >&2
        exit 1
    fi
    export SOURCE_DATE_EPOCH
    SOURCE_DATE_EPOCH=$(field Source-Date-Epoch)
    address=$(field Report-Address)
    [ "$address" != none ] || address=
    export IVRO_REPORT_ADDRESS=$address
else
    commit=$(git -C "$ROOT" rev-parse HEAD)
    # The time must come from the commit, whoever builds it and whenever.
    unset SOURCE_DATE_EPOCH IVRO_REPORT_ADDRESS
fi

# The working tree, when it is the commit unchanged, is one of the two.
here=
[ -n "$recorded" ] || [ -n "$(git -C "$ROOT" status --porcelain)" ] || here=$ROOT
trees=("$work/one" "$work/a-clone-with-a-longer-name")
[ -z "$here" ] || trees=("$work/a-clone-with-a-longer-name")
for tree in "${trees[@]}"; do
    git clone --quiet --no-checkout "$ROOT" "$tree"
    git -C "$tree" checkout --quiet --detach "$commit"
    if ! "$tree/scripts/release.sh" >"$tree.log" 2>&1; then
        cat "$tree.log" >&2
        echo "check-reproducible: the release of $commit does not build in $tree" >&2
        exit 1
    fi
    sleep 2
done
rebuilt=${trees[0]}/build/release
status=0
if [ -n "$here" ]; then
    if ! "$ROOT/scripts/release.sh" >"$work/here.log" 2>&1; then
        cat "$work/here.log" >&2
        echo "check-reproducible: the release does not build in $ROOT" >&2
        exit 1
    fi
    count=$(compare "$ROOT/build/release" "$rebuilt") || status=1
else
    count=$(compare "$rebuilt" "${trees[1]}/build/release") || status=1
fi

if [ -n "$recorded" ]; then
    note=$(compare "$recorded" "$rebuilt" 2>&1 >/dev/null) || status=1
    [ -z "$note" ] || echo "$note" >&2
    if [ -z "$note" ]; then
        also=" and the same as $recorded"
    else
        also=", and every file a user gets is the same as in $recorded (the machines differ, as said above)"
    fi
elif [ -n "$here" ]; then
    also=" (the working tree and a clone)"
else
    also=" (two clones: the working tree has changes, so its own release is left out)"
fi
if [ $status = 0 ]; then
    echo "The release of $commit, $count (the archives' contents among them), is the same byte for byte in two builds$also."
fi
exit $status
