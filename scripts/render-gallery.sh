#!/usr/bin/env bash
# Renders the committed pictures from the scenes beside them: every example scene (examples/NAME.json)
# into docs/gallery/NAME.png, every scene of the node guide (docs/nodes/NAME.json) into
# docs/nodes/NAME.png, and those of the table `samples` also into NAME-samples-N.png, at the committed
# size. The gallery test renders them again and compares the pixels, so after a change to a node that
# changes a picture, run this and commit the new pictures.
#
# Usage: scripts/render-gallery.sh [--vantrel PATH] [--out DIR] [--size WxH]
#   --vantrel  the vantrel program (default: build/release/bin/vantrel)
#   --out      render into DIR/gallery and DIR/nodes instead (created when missing)
#   --size     the picture's width, or WxH (default: 256, the committed width; the height is the
#              scene's domain's: 128 for the sphere, 256 for a model's texture)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

vantrel="$root/build/release/bin/vantrel"
gallery="$root/docs/gallery"
nodes="$root/docs/nodes"
size=256
while [ $# -gt 0 ]; do
    case "$1" in
        --vantrel) vantrel="$2"; shift 2 ;;
        --out) gallery="$2/gallery"; nodes="$2/nodes"; shift 2 ;;
        --size) size="$2"; shift 2 ;;
        -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "render-gallery.sh: unknown argument '$1' (try --help)" >&2; exit 2 ;;
    esac
done

# Scenes rendered a second time with N x N samples a pixel, into NAME-samples-N.png, to show beside the
# picture of one sample a pixel what anti-aliasing does.
declare -A samples=(
    [docs/nodes/fractal-sphere]=3
)

# render SCENE_FOLDER OUT_FOLDER: every scene of the folder into a PNG of the same name.
render() {
    mkdir -p "$2"
    for scene in "$root/$1"/*.json; do
        name="$(basename "$scene" .json)"
        # Each scene names the type it is seen in ("output_type"), or is seen in colour.
        options=(--size "$size")
        "$vantrel" render "$scene" -o "$2/$name.png" "${options[@]}"
        if [ -n "${samples[$1/$name]:-}" ]; then
            n="${samples[$1/$name]}"
            "$vantrel" render "$scene" -o "$2/$name-samples-$n.png" "${options[@]}" --samples "$n"
        fi
    done
}
render examples "$gallery"
render docs/nodes "$nodes"
