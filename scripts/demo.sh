#!/usr/bin/env bash
# Installs what the build needs, builds the optimised configuration, lists the module's node types and
# renders every example scene into out/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
build/release/bin/vantrel list
tools/render-gallery.sh --out out
echo "The gallery is in out/."
