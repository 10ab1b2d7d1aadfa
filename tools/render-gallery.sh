#!/usr/bin/env bash
# Renders every example scene (examples/*.json) into a PNG of the same name.
#
# Usage: tools/render-gallery.sh [--vantrel PATH] [--out DIR] [--size WxH]
#   --vantrel  the vantrel program (default: build/release/bin/vantrel)
#   --out      where the pictures go (default: out); created when missing
#   --size     the picture size (default: 512 wide, the height from each scene's domain)
#
# The committed gallery is: tools/render-gallery.sh --out docs/gallery --size 256x128
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

vantrel="$root/build/release/bin/vantrel"
out="out"
size=()
while [ $# -gt 0 ]; do
    case "$1" in
        --vantrel) vantrel="$2"; shift 2 ;;
        --out) out="$2"; shift 2 ;;
        --size) size=(--size "$2"); shift 2 ;;
        -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "render-gallery.sh: unknown argument '$1' (try --help)" >&2; exit 2 ;;
    esac
done

# The output type each example is best seen in, where it is not the default colour: the lattice and
# the fractal on their own give a real number, shown as grey.
declare -A types=(
    [hex-lattice-plane]=double
    [hex-lattice-sphere]=double
    [leapfrog-fractal]=double
)

mkdir -p "$out"
for scene in "$root"/examples/*.json; do
    name="$(basename "$scene" .json)"
    "$vantrel" render "$scene" -o "$out/$name.png" --type "${types[$name]:-color}" "${size[@]}"
done
