#!/usr/bin/env bash
# The long soak: every export of the module called in one process, over and
# over (100000 rounds of 14 calls unless told otherwise), or with --reload
# the module loaded, used and unloaded over and over (2000 loads unless told
# otherwise); prints the process's handle count and memory before and after,
# and fails if either grew or a help viewer was left running.
#   scripts/soak.sh [--reload] [COUNT] [x86|x64]     (the 32-bit module by default)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
mode=()
count=100000
if [ "${1:-}" = --reload ]; then
    mode=(--reload)
    count=2000
    shift
fi
platform=${2:-x86}
dir=$(win_build "$platform")
scripts/install-deps.sh
configure_windows "$platform"
cmake --build "$dir" --target soak >/dev/null
prepare_wine_prefix "$dir"
cd "$dir/help%test%"
exec "$dir/wine-run" ./soak.exe "${mode[@]}" "${1:-$count}"
