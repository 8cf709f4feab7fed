#!/usr/bin/env bash
# Builds the release of the checked-out commit in a fresh Debian 12 root, a
# minimal system made by debootstrap with the package sources of this
# machine (the mirrors it takes Debian 12, its updates and its security
# updates from, as apt reads its own sources), where scripts/release.sh
# installs everything it needs itself; builds it here too, and compares the
# two file by file (cmake/release.py compare): every shipped file must be the
# same, and where the two machines differ, it says in what. Both are built
# from clones of the commit, so uncommitted changes are in neither. Needs
# root and those mirrors; the root stays in FOLDER (default
# build/fresh-root), and a second run only builds, with whatever packages
# the root then has (an older point release installed there, say).
#   scripts/release-in-fresh-root.sh [FOLDER]
set -euo pipefail
. "$(dirname "$0")/common.sh"

dir=${1:-$ROOT/build/fresh-root}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
[ "$(id -u)" = 0 ] || { echo "release-in-fresh-root: debootstrap and chroot need root" >&2; exit 1; }
commit=$(git -C "$ROOT" rev-parse HEAD)

# mirror SUITE: the address this machine's package sources take SUITE's
# main component from (the first, where several do), as apt reads them.
mirror() {
    apt-get indextargets --format '$(SITE) $(RELEASE) $(COMPONENT)' 'Created-By: Packages' |
        awk -v suite="$1" '$2 == suite && $3 == "main" { print $1; exit }'
}

if [ ! -x "$dir/bin/bash" ]; then
    main_mirror=$(mirror bookworm) updates_mirror=$(mirror bookworm-updates)
    security_mirror=$(mirror bookworm-security)
    [ -n "$main_mirror" ] || {
        echo "release-in-fresh-root: this machine's package sources have no bookworm main" >&2
        exit 1
    }
    dpkg-query -W -f='${Status}' debootstrap 2>/dev/null | grep -q 'install ok installed' ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
    debootstrap --variant=minbase bookworm "$dir" "$main_mirror" >"$dir.debootstrap.log"
    rm -f "$dir/etc/apt/sources.list"
    # The same sources in the root; a suite this machine does not take is
    # left out.
    for entry in "$main_mirror bookworm" "$updates_mirror bookworm-updates" "$security_mirror bookworm-security"; do
        read -r uri suite <<<"$entry"
        [ -n "$suite" ] || continue
        printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: main\n' "$uri" "$suite"
        printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\n'
    done >"$dir/etc/apt/sources.list.d/debian.sources"
fi
cp /etc/resolv.conf "$dir/etc/resolv.conf"

# The root has the device nodes debootstrap made; it gets a /proc, a /sys
# and a /dev/shm of its own, and no folder of this machine is bound into it,
# so that removing the folder can never reach into this machine's /dev.
mounted=()
unmount() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount "${mounted[i]}" || umount -l "${mounted[i]}" || true; done
}
trap unmount EXIT
mkdir -p "$dir/dev/shm"
for m in proc sys dev/shm; do
    mountpoint -q "$dir/$m" && continue
    case $m in
    proc) mount -t proc proc "$dir/proc" ;;
    sys) mount -t sysfs sysfs "$dir/sys" ;;
    dev/shm) mount -t tmpfs shm "$dir/dev/shm" ;;
    esac
    mounted+=("$dir/$m")
done

in_root() { chroot "$dir" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
in_root bash -c 'command -v git >/dev/null || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends git ca-certificates >/dev/null; }'

rm -rf "$dir/src/ivro"
mkdir -p "$dir/src"
git clone -q --no-checkout "$ROOT" "$dir/src/ivro"
git -C "$dir/src/ivro" checkout -q "$commit"
echo "release-in-fresh-root: building $commit in $dir" >&2
in_root bash -c 'cd /src/ivro && scripts/release.sh' >"$dir.release.log" 2>&1 ||
    { tail -n 40 "$dir.release.log" >&2; exit 1; }

# The release of this machine, from the same commit, in a clone of its own.
here=$(mktemp -d "${TMPDIR:-/tmp}/ivro-here.XXXXXX")
trap 'unmount; rm -rf "$here"' EXIT
git clone -q --no-checkout "$ROOT" "$here/ivro"
git -C "$here/ivro" checkout -q "$commit"
"$here/ivro/scripts/release.sh" >/dev/null
/usr/bin/python3 "$ROOT/cmake/release.py" compare "$here/ivro/build/release" "$dir/src/ivro/build/release"
echo "release-in-fresh-root: the release built in $dir is the one built here" >&2
