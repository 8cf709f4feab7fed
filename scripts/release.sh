#!/usr/bin/env bash
# Builds the release: the archives of both platforms, side by side in
# build/release with BUILDINFO, the record of what they were built from (the
# records of both platforms, one after the other), and SHA256SUMS, the
# checksum of each, so that a download can be checked before it is opened.
# Only what the archives hold is built (the module and its help file of each
# platform); the one time they hold is the commit's, or SOURCE_DATE_EPOCH
# when it is set. IVRO_REPORT_ADDRESS, when set, is where the release tells
# users to report problems (an e-mail or an http(s) address).
#   [IVRO_REPORT_ADDRESS=...] scripts/release.sh
set -euo pipefail
. "$(dirname "$0")/common.sh"

RELEASE_DIR=$ROOT/build/release
"$ROOT/scripts/install-deps.sh"
rm -rf "$RELEASE_DIR"
mkdir -p "$RELEASE_DIR"
files=()
for platform in "${PLATFORMS[@]}"; do
    dir=$(win_build "$platform")
    configure_windows "$platform"
    # The address is the release's, given afresh each time: none unless set.
    cmake "$dir" -DIVRO_REPORT_ADDRESS="${IVRO_REPORT_ADDRESS-}" >/dev/null
    quiet_build "$dir" dist
    archive=Ivro-$(build_version "$dir")-$platform.zip
    cp "$dir/$archive" "$RELEASE_DIR/"
    files+=("$archive")
    [ ! -s "$RELEASE_DIR/BUILDINFO" ] || echo >>"$RELEASE_DIR/BUILDINFO"
    cat "$dir/BUILDINFO" >>"$RELEASE_DIR/BUILDINFO"
done
files+=(BUILDINFO)
(cd "$RELEASE_DIR" && sha256sum "${files[@]}" >SHA256SUMS)
echo "$RELEASE_DIR:"
(cd "$RELEASE_DIR" && cat SHA256SUMS)
