#!/usr/bin/env bash
# Compares the numbers of a vantrel built for another platform with those of the Linux build, to the bit.
#
#   scripts/compare-eval.sh [--linux DIR] [--types T,...] [--render] PLATFORM DIR [RUNNER...]
#
#   PLATFORM  the name printed in the result ("aarch64", "windows")
#   DIR       the folder of the other build's programs: vantrel (or vantrel.exe) with the two modules
#             beside it, which it loads, and lattice_tables (or lattice_tables.exe)
#   RUNNER    the command that runs that platform's programs, e.g. qemu-aarch64 or wine64; none for a
#             program this machine runs itself
#   --linux   the folder of the Linux build's programs; default build/release/bin
#   --types   the output types to compare, by vantrel's names (all: every one); default double,vec3,color,int
#   --render  also render one picture on both and compare the PNG files byte for byte, and join its
#             top half rendered on PLATFORM with its bottom half rendered on Linux: a part names its
#             render by a digest, which must be the same on both
#
# Examples, from the repository's root:
#
#   scripts/compare-eval.sh aarch64 build/aarch64/bin qemu-aarch64
#   scripts/compare-eval.sh --render windows build/windows/bin wine64
#   scripts/compare-eval.sh --linux old/bin --types all new build/release/bin    # a change, before and after
#
# The samples are one fixed set of 10,000 and more positions, made afresh by the same integer arithmetic
# each run: directions of lengths 1e-6 to 1e6, a few of lengths down to the smallest subnormal and up to
# 1e300, plane points over ranges from +-1 to +-1e6, points of a half-unit grid, and special values
# (zeros of both signs, infinities, not-a-number). Every scene of examples/ is evaluated at all of them
# with `vantrel eval` in the types double, vec3, color and int (or those --types names), on Linux and on
# PLATFORM, and each pair of outputs is compared line by line, exactly, but for Windows' CR LF line
# ends. Then the tables the hexagonal lattice computes when it is first used (lattice_tables prints
# every entry's bits) are compared the same way.
#
# Prints "PLATFORM: N samples compared (S scenes x T types x K positions), D differ", and for a
# difference the first few differing lines with their scene, type and position. The status is 0 only when
# nothing differs and every run succeeded.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    sed -n '3,15s/^# \{0,1\}//p' "$0" >&2
    exit 2
}
linux=build/release/bin
types=(double vec3 color int)
render=false
while [ $# -gt 0 ]; do
    case "$1" in
        --linux) [ $# -ge 2 ] || usage; linux=$2; shift 2 ;;
        --types)
            [ $# -ge 2 ] || usage
            if [ "$2" = all ]; then
                types=(string colora color quaternion vec4 vec3 vec2 double int)
            else
                IFS=, read -r -a types <<<"$2"
            fi
            shift 2 ;;
        --render) render=true; shift ;;
        -*) usage ;;
        *) break ;;
    esac
done
[ $# -ge 2 ] || usage
platform=$1
dir=$2
shift 2
runner=("$@")

fail() {
    echo "$platform: $*" >&2
    exit 1
}
# A program of a build folder, with or without Windows' .exe.
program() {
    local name
    for name in "$1/$2" "$1/$2.exe"; do
        if [ -f "$name" ]; then
            echo "$name"
            return
        fi
    done
    fail "no program $2 in $1"
}
linuxVantrel=$(program "$linux" vantrel)
linuxTables=$(program "$linux" lattice_tables)
otherVantrel=$(program "$dir" vantrel)
otherTables=$(program "$dir" lattice_tables)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The positions. Only +, -, *, / and sqrt, all exactly rounded, and printed with 17 digits, so the text is
# the same on every machine. The pseudo-random numbers are the minimal standard generator, whose products
# stay below 2^46 and so are exact in a double.
awk 'BEGIN {
    seed = 20261208
    m = 2147483647
    # A direction: a point of the cube inside the unit ball (but not near its centre), made unit length.
    lengths = "1e-6 0.001 0.5 1 2 1000 1e6"
    n = split(lengths, length_of, " ")
    for (i = 1; i <= n; i++)
        for (k = 0; k < 1000; k++) { direction(); emit(x * length_of[i], y * length_of[i], z * length_of[i]) }
    extremes = "5e-324 1e-300 1e100 1e300"
    n = split(extremes, extreme, " ")
    for (i = 1; i <= n; i++)
        for (k = 0; k < 50; k++) { direction(); emit(x * extreme[i], y * extreme[i], z * extreme[i]) }
    # Plane points: x and y over a square, z near the plane.
    ranges = "1 10 1000 1e6"
    n = split(ranges, range, " ")
    for (i = 1; i <= n; i++)
        for (k = 0; k < 750; k++) emit(range[i] * uniform(), range[i] * uniform(), uniform() / 4)
    # A half-unit grid: lattice edges and corners of the plane lattice fall on some of these points.
    for (gx = -5; gx <= 5; gx++)
        for (gy = -5; gy <= 5; gy++) emit(gx / 2, gy / 2, 0)
    print "0 0 0"; print "-0 -0 -0"; print "1 0 0"; print "0 1 0"; print "0 0 1"; print "0 0 -1"
    print "nan nan nan"; print "nan 0 1"; print "inf 0 0"; print "-inf inf 0"; print "inf inf inf"
    print "1e308 1e308 1e308"; print "-1e308 1e-308 0"; print "0 0 5e-324"
    print "0 0.85065080835203988 0.52573111211913359"  # near icosahedron vertices
    print "0.52573111211913359 0 0.85065080835203988"
}
function uniform() {  # in [-1, 1)
    seed = (16807 * seed) % m
    return 2 * (seed / m) - 1
}
function direction(   r2) {
    do { x = uniform(); y = uniform(); z = uniform(); r2 = x * x + y * y + z * z } while (r2 > 1 || r2 < 1e-4)
    r = sqrt(r2); x /= r; y /= r; z /= r
}
function emit(a, b, c) { printf "%.17g %.17g %.17g\n", a, b, c }' >"$work/positions"
positions=$(wc -l <"$work/positions")

# Runs one side into FILE; a failure ends the comparison, with the program's message.
run() {
    local file=$1
    shift
    if ! "$@" <"$work/positions" >"$file" 2>"$work/stderr"; then
        fail "failed: $* <positions: $(head -c 2000 "$work/stderr")"
    fi
}
scenes=(examples/*.json)
compared=0
differ=0
shown=0
for scene in "${scenes[@]}"; do
    for type in "${types[@]}"; do
        run "$work/linux" "$linuxVantrel" eval "$scene" --type "$type"
        run "$work/other" "${runner[@]}" "$otherVantrel" eval "$scene" --type "$type"
        tr -d '\r' <"$work/other" >"$work/other.lf"
        for side in linux other.lf; do
            lines=$(wc -l <"$work/$side")
            [ "$lines" -eq "$positions" ] || fail "$scene --type $type: $lines lines from $side, expected $positions"
        done
        # Each differing line as "scene type line: position: linux | other", the first few shown.
        paste -d '\t' "$work/positions" "$work/linux" "$work/other.lf" |
            awk -F '\t' -v where="$scene $type" '$2 != $3 { print where " line " NR ": " $1 ": " $2 " | " $3 }' \
                >"$work/differences"
        count=$(wc -l <"$work/differences")
        if [ "$count" -gt 0 ] && [ "$shown" -lt 10 ]; then
            head -n $((10 - shown)) "$work/differences" >&2
            shown=$((shown + $(head -n $((10 - shown)) "$work/differences" | wc -l)))
        fi
        compared=$((compared + positions))
        differ=$((differ + count))
    done
done
echo "$platform: $compared samples compared (${#scenes[@]} scenes x ${#types[@]} types x $positions positions)," \
    "$differ differ"
status=0
[ "$differ" -eq 0 ] || status=1

# The lattice's tables, entry by entry.
run "$work/linux-tables" "$linuxTables"
run "$work/other-tables" "${runner[@]}" "$otherTables"
tr -d '\r' <"$work/other-tables" >"$work/other-tables.lf"
entries=$(wc -l <"$work/linux-tables")
tableDiffer=$(paste -d '\t' "$work/linux-tables" "$work/other-tables.lf" |
    awk -F '\t' '$1 != $2 { n++; if (n <= 5) print "  linux: " $1 "\n  other: " $2 > "/dev/stderr" } END { print n + 0 }')
[ "$entries" -gt 0 ] && [ "$(wc -l <"$work/other-tables.lf")" -eq "$entries" ] ||
    fail "lattice_tables printed $entries lines on Linux, $(wc -l <"$work/other-tables.lf") on $platform"
echo "$platform: $entries lattice table entries compared, $tableDiffer differ"
[ "$tableDiffer" -eq 0 ] || status=1

if $render; then
    # A sphere scene, so the runtime's own sin and cos of every pixel's direction are part of it, and a
    # model's texture, so the OBJ reader's numbers and the raster are too.
    for scene in examples/leapfrog-sphere.json examples/lattice-pebble.json; do
        "$linuxVantrel" render "$scene" -o "$work/linux.png" --size 256 >/dev/null 2>"$work/stderr" ||
            fail "Linux render of $scene failed: $(cat "$work/stderr")"
        # The other platform writes into a folder of its own under this one, named relative to it (a
        # path a Windows program reads as well as a Linux one).
        mkdir -p out
        otherPng=out/compare-$platform.png
        "${runner[@]}" "$otherVantrel" render "$scene" -o "$otherPng" --size 256 >/dev/null 2>"$work/stderr" ||
            fail "render of $scene failed: $(cat "$work/stderr")"
        if cmp -s "$work/linux.png" "$otherPng"; then
            echo "$platform: render of $scene at width 256: the PNG files are identical"
            rm -f "$otherPng"
        else
            echo "$platform: render of $scene at width 256: the PNG files differ (kept in $otherPng)" >&2
            status=1
        fi
    done
    scene=examples/leapfrog-sphere.json
    "$linuxVantrel" render "$scene" -o "$work/linux.png" --size 256x128 >/dev/null 2>"$work/stderr" ||
        fail "Linux render failed: $(cat "$work/stderr")"
    "${runner[@]}" "$otherVantrel" render "$scene" -o "out/compare-$platform.png.part" --size 256x128 --part 1/2 \
        >/dev/null 2>"$work/stderr" || fail "render --part 1/2 failed: $(cat "$work/stderr")"
    "$linuxVantrel" render "$scene" -o "$work/linux.png.part" --size 256x128 --part 2/2 >/dev/null 2>"$work/stderr" ||
        fail "Linux render --part 2/2 failed: $(cat "$work/stderr")"
    if "$linuxVantrel" join "out/compare-$platform.png.part" "$work/linux.png.part" -o "$work/joined.png" \
        >/dev/null 2>"$work/stderr" && cmp -s "$work/linux.png" "$work/joined.png"; then
        echo "$platform: its part 1/2 and Linux's part 2/2 join into the Linux render's PNG"
        rm -f "out/compare-$platform.png.part"
    else
        echo "$platform: its part 1/2 and Linux's part 2/2 do not join into the Linux render's PNG:" \
            "$(cat "$work/stderr") (kept in out/compare-$platform.png.part)" >&2
        status=1
    fi
fi
exit $status
