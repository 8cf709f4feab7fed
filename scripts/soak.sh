#!/usr/bin/env bash
# The long soak: every export of the module called in one process, over and
# over (100000 rounds of 14 calls unless told otherwise); prints the process's
# handle count and memory before and after, and fails if either grew or a
# help viewer was left running.
#   scripts/soak.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
scripts/install-deps.sh
configure_windows
cmake --build "$WIN_BUILD" --target soak >/dev/null
prepare_wine_prefix
cd "$WIN_BUILD/helptest"
exec "$WIN_BUILD/wine-run" ./soak.exe "${1:-100000}"
