#!/usr/bin/env bash
# Builds the Debian package in a copy of the committed tree outside the work tree, so no
# build product lands in it, and checks it with lintian. The .deb files end up in OUT
# (default /tmp/qarvel-package).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-/tmp/qarvel-package}
rm -rf "$out" && mkdir -p "$out/src"
git archive HEAD | tar -x -C "$out/src"
(cd "$out/src" && dpkg-buildpackage -us -uc -b)
lintian "$out"/*.changes || true
ls "$out"/*.deb
