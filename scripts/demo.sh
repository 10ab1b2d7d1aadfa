#!/usr/bin/env bash
# Installs what the build needs, builds the optimised configuration, lists the module's node types and
# renders every example scene and the node guide's scenes into out/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
build/release/bin/vantrel list
scripts/render-gallery.sh --out out --size 512x256
echo "The pictures are in out/gallery and out/nodes."
