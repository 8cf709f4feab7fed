#!/usr/bin/env bash
# The Windows tests under wine, run by test.sh inside xvfb-run: windows that
# must really appear (a message box, the help viewer) need an X server, and
# wine's desktop process must be started inside it, so any server still
# running from before is ended first.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

stop_wine_server
start_wine_server
trap stop_wine_server EXIT
cd "$WIN_BUILD"
ctest --output-on-failure --timeout 300 -j2
