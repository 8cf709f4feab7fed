#!/usr/bin/env bash
# The Windows tests under wine, run by test.sh inside xvfb-run: first the
# 32-bit build under 32-bit wine, then the 64-bit one under 64-bit wine, each
# in its own prefix. Windows that must really appear (a message box, the help
# viewer) need an X server, and wine's desktop process must be started inside
# it, so any server still running from before is ended first.
#   scripts/windows-tests.sh [PLATFORM...]    (x86 x64 by default)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

trap 'for p in "${PLATFORMS[@]}"; do stop_wine_server "$(win_build "$p")"; done' EXIT
status=0
for platform in "${@:-${PLATFORMS[@]}}"; do
    dir=$(win_build "$platform")
    echo "== $platform: $dir"
    stop_wine_server "$dir"
    start_wine_server "$dir"
    rm -f "$dir/faulttest/sweep-summary.txt" "$dir/stack-summary.txt"
    (cd "$dir" && ctest --output-on-failure --timeout 300 -j2) || status=1
    # What the sweep of failing calls to Windows ran.
    cat "$dir/faulttest/sweep-summary.txt" 2>/dev/null || echo "no summary of the sweep of failing calls"
    # Each export's deepest stack in the module's own frames, and the budget.
    cat "$dir/stack-summary.txt" 2>/dev/null || echo "no stack figures"
    stop_wine_server "$dir"
done
exit $status
