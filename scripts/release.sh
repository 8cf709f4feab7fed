#!/usr/bin/env bash
# Builds the release: the archives of both platforms, side by side in
# build/release with SHA256SUMS, the checksum of each, so that a download can
# be checked before it is opened. Only what the archives hold is built (the
# module and its help file of each platform); the one time they hold is the
# commit's, or SOURCE_DATE_EPOCH when it is set.
#   scripts/release.sh
set -euo pipefail
. "$(dirname "$0")/common.sh"

RELEASE_DIR=$ROOT/build/release
"$ROOT/scripts/install-deps.sh"
rm -rf "$RELEASE_DIR"
mkdir -p "$RELEASE_DIR"
archives=()
for platform in "${PLATFORMS[@]}"; do
    dir=$(win_build "$platform")
    configure_windows "$platform"
    quiet_build "$dir" dist
    archive=Ivro-$(build_version "$dir")-$platform.zip
    cp "$dir/$archive" "$RELEASE_DIR/"
    archives+=("$archive")
done
(cd "$RELEASE_DIR" && sha256sum "${archives[@]}" >SHA256SUMS)
echo "$RELEASE_DIR:"
(cd "$RELEASE_DIR" && cat SHA256SUMS)
