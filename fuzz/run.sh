#!/usr/bin/env bash
# Runs every fuzz target for as long as asked (seconds each, default 300),
# keeping what it finds in build/fuzz/fuzz/corpus/<target>.
#   fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
scripts/install-deps.sh
configure_fuzz
cmake --build "$FUZZ_BUILD"
seconds=${1:-300}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(expand split roundtrip numbers functions)
for t in "${targets[@]}"; do
    echo "== $t for ${seconds}s"
    "$FUZZ_BUILD/fuzz/${t}_fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=16384 -print_final_stats=1 \
        "$FUZZ_BUILD/fuzz/corpus/$t" "fuzz/corpus/$t"
done
