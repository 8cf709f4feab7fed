#!/usr/bin/env bash
# The Windows tests under wine: the 32-bit build under 32-bit wine and the
# 64-bit one under 64-bit wine, both at once, each in its own prefix with a
# wine server and an X server of its own (windows that must really appear, a
# message box or the help viewer, need one, and wine's desktop process must
# start inside it). A wine test spends much of its time waiting on its wine
# server, so the two runs share the processors well. Each run's output is
# shown whole, in order, when both have ended.
#   scripts/windows-tests.sh [PLATFORM...]    (x86 x64 by default)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

# One platform's run, inside its X server.
if [ "${1:-}" = --in-x-server ]; then
    dir=$(win_build "$2")
    trap 'stop_wine_server "$dir"' EXIT
    echo "== $2: $dir"
    stop_wine_server "$dir"
    start_wine_server "$dir"
    rm -f "$dir/faulttest/sweep-summary.txt" "$dir/stack-summary.txt"
    status=0
    (cd "$dir" && ctest --output-on-failure --timeout 300 -j2) || status=1
    # What the sweep of failing calls to Windows ran.
    cat "$dir/faulttest/sweep-summary.txt" 2>/dev/null || echo "no summary of the sweep of failing calls"
    # Each export's deepest stack in the module's own frames, and the budget.
    cat "$dir/stack-summary.txt" 2>/dev/null || echo "no stack figures"
    exit $status
fi

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
platforms=("${@:-${PLATFORMS[@]}}")
pids=() server=100
for platform in "${platforms[@]}"; do
    # Each run looks for a free X display from a number of its own, so that
    # the two never take the same one.
    xvfb-run -a -n $server -s "-screen 0 1280x1024x24" "$ROOT/scripts/windows-tests.sh" --in-x-server "$platform" \
        </dev/null >"$logs/$platform" 2>&1 &
    pids+=($!)
    server=$((server + 100))
done
status=0
for i in "${!platforms[@]}"; do
    wait "${pids[$i]}" || status=1
    cat "$logs/${platforms[$i]}"
done
exit $status
