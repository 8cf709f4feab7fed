#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need. Only
# what is missing is installed, so a second run does nothing and needs no
# network.
set -euo pipefail

packages=(
    cmake ninja-build g++ googletest libgtest-dev      # native build and tests
    clang libclang-rt-14-dev                           # fuzzers
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix  # the Windows cross builds:
    binutils-mingw-w64-i686 mingw-w64-i686-dev         #   32-bit (x86)
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
    binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev     #   64-bit (x64)
    wine wine32:i386 wine64                            # running them: 32- and 64-bit wine
    xvfb xauth                                         # windows that must appear
    fp-utils libchm-bin python3                        # the help file: compiler, reader, checks
    chromium                                           # the help pages drawn by a browser
    gcovr                                              # the coverage map (scripts/coverage.sh)
    qemu-user                                          # the engine's scans on other processors
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_i386=1
else
    need_i386=0
fi
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ "$need_i386" = 0 ] && [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=
[ "$(id -u)" = 0 ] || sudo=sudo
echo "Installing: ${missing[*]}" >&2
[ "$need_i386" = 1 ] && $sudo dpkg --add-architecture i386
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
