#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the native
# unit tests of the portable core under the sanitizers (on each path of the
# engine's scans, built without its vector paths, and under ThreadSanitizer),
# a short run of each fuzz target, for 32-bit and for 64-bit Windows the
# module, the stand-in shell, the core's tests and the end-to-end tests under
# wine (beside the native tests), and last the release, built twice from the
# commit and compared byte for byte.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/common.sh

# took WHAT: how long WHAT took since the last such line, for the run's
# account of its time at the end.
timings=() last=$SECONDS
took() {
    timings+=("$(printf '%4d s  %s' $((SECONDS - last)) "$1")")
    last=$SECONDS
}
prefixes_log=$(mktemp) windows_log=$(mktemp)
trap 'rm -f "$prefixes_log" "$windows_log"; echo "== where the time went"; printf "%s\n" "${timings[@]}"' EXIT

scripts/install-deps.sh
took "installing what is missing"

# A new wine prefix takes about 20 s, mostly waiting on wine: the two are
# made while the rest builds.
for platform in "${PLATFORMS[@]}"; do
    configure_windows "$platform"
done
for platform in "${PLATFORMS[@]}"; do
    prepare_wine_prefix "$(win_build "$platform")" &
done >"$prefixes_log" 2>&1

configure_native
cmake --build "$NATIVE_BUILD"
took "the native build"
configure_native_scalar
cmake --build "$SCALAR_BUILD"
took "the native build without the vector paths"
configure_native_tsan
cmake --build "$TSAN_BUILD" --target core_tests
took "the ThreadSanitizer build"
configure_fuzz
cmake --build "$FUZZ_BUILD"
took "the fuzz build"
configure_native_emulated
cmake --build "$EMULATED_BUILD" --target core_tests
took "the build for QEMU"
for platform in "${PLATFORMS[@]}"; do
    cmake --build "$(win_build "$platform")"
    took "the $platform build"
done
wait
cat "$prefixes_log"
took "the wine prefixes, after the builds"
scripts/release.sh
took "the release"

status=0
# The Windows tests spend much of their time waiting on wine: they run beside
# the native tests, and their output follows those.
scripts/windows-tests.sh >"$windows_log" 2>&1 &
windows=$!
echo "== native tests"
(cd "$NATIVE_BUILD" && ctest --output-on-failure --timeout 300 -j2) || status=1
took "the native tests"
echo "== native tests without the SSE2 paths"
(cd "$SCALAR_BUILD" && ctest --output-on-failure --timeout 300 -j2) || status=1
took "the native tests without the vector paths"
# The sweeps over every character run on one thread, where ThreadSanitizer
# has nothing to find, and would take two thirds of its run.
echo "== native core tests under ThreadSanitizer"
(cd "$TSAN_BUILD" &&
    GTEST_FILTER='-RoundTrip.EveryBmpCharacter*:ExpandEscapes.EveryCodePointThroughLongEscape*' \
        ctest --output-on-failure --timeout 300 -R '^core_tests$') || status=1
took "the tests under ThreadSanitizer"
echo "== native tests under QEMU: the SSE2 path without AVX2$(has_avx2 || echo ', the AVX2 path (this processor has none)')"
emulated='^core_tests_(sse2_without_avx2|avx2_refused)$'
has_avx2 || emulated="$emulated|^core_tests_avx2\$"
(cd "$EMULATED_BUILD" && ctest --output-on-failure --timeout 300 -R "$emulated") || status=1
took "the tests under QEMU"
echo "== fuzz targets, 10 seconds each (fuzz/run.sh runs them longer)"
(cd "$FUZZ_BUILD" && ctest --output-on-failure --timeout 300 -j2) || status=1
took "the fuzz targets"
echo "== Windows tests under wine, x86 and x64 at once, each with an X server of its own"
wait $windows || status=1
cat "$windows_log"
took "the Windows tests, after the native ones"
echo "== the release of the commit, built twice (the tree unchanged and a clone, or two clones) and compared"
scripts/check-reproducible.sh || status=1
took "the release built again and compared"
exit $status
