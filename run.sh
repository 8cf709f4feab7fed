#!/usr/bin/env bash
# Builds the module and the stand-in shell, then runs the module in the shell.
#
#   ./run.sh                 runs examples/demo.btm (then a prompt, on a terminal)
#   ./run.sh -c 'LINE'       runs one line
#   ./run.sh FILE.btm [ARGS] runs a batch file
#   ./run.sh -i              interactive prompt
#   ./run.sh --x64 ...       any of these with the 64-bit module and shell
#                            (--x86, the 32-bit ones, is the default)
#
# The shell writes UTF-8 here, which is what a Linux terminal shows.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/common.sh

platform=x86
case "${1:-}" in
--x86 | --x64) platform=${1#--}; shift ;;
esac
dir=$(win_build "$platform")

scripts/install-deps.sh
configure_windows "$platform"
cmake --build "$dir" --target ivro ivsh >/dev/null
prepare_wine_prefix "$dir"

shell=("$dir/wine-run" "$dir/bin/ivsh.exe" -o utf8output=yes)
if [ $# -eq 0 ]; then
    if [ -t 0 ] && [ -t 1 ]; then
        exec "${shell[@]}" -k examples/demo.btm
    fi
    exec "${shell[@]}" examples/demo.btm
fi
exec "${shell[@]}" "$@"
