#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/, the fuzz preset: clang) and runs each in turn, sharing a time budget:
#
#   scripts/fuzz.sh [SECONDS]    the whole budget, default 60 (CI); 2400 gives each target ten minutes
#
# Seeds: the nodes' own stored forms, scenes made of them, requests of the server about them and the
# parts of small renders (written by fuzz_seeds), every scene in examples/ and its models. What a run learns stays in build/fuzz/corpus/ for the next run. A crash, a sanitizer report
# or a broken promise stops the script with the input saved as build/fuzz/findings/TARGET-crash-...;
# replay it with build/fuzz/bin/TARGET FILE.
set -euo pipefail
cd "$(dirname "$0")/.."

budget=${1:-60}
targets=(fuzz_scene fuzz_node_load fuzz_serve fuzz_part_join fuzz_mesh)
# Inputs up to 1 MB: the seeds at the loader's limits are hundreds of kilobytes, and faults of deep
# nesting and large graphs lie there. Part files up to 64 KiB, whose deflate data could inflate to 66 MB
# at most: an allocation of 256 MiB or more is one that the part's bytes cannot hold, and a finding.
declare -A options=([fuzz_part_join]="-max_len=65536 -malloc_limit_mb=256")
build=build/fuzz

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

seeds=$build/seeds
rm -rf "$seeds"
for target in "${targets[@]}"; do mkdir -p "$seeds/$target"; done
mkdir -p "$build/findings"
"$build/bin/fuzz_seeds" "$seeds/fuzz_node_load" "$seeds/fuzz_scene" "$seeds/fuzz_serve" "$seeds/fuzz_part_join"
cp examples/*.json "$seeds/fuzz_scene/"
# Model seeds: a byte below 128 before OBJ text, one above before glTF.
for model in examples/models/*.obj; do
    { printf 'o'; cat "$model"; } >"$seeds/fuzz_mesh/$(basename "$model")"
done

each=$((budget / ${#targets[@]}))
for target in "${targets[@]}"; do
    corpus=$build/corpus/$target
    mkdir -p "$corpus"
    echo "== $target for $each s"
    # New inputs go to the first folder, the corpus; the seeds are only read.
    log=$build/$target.log
    # shellcheck disable=SC2086  # the options are words apart
    if ! "$build/bin/$target" "$corpus" "$seeds/$target" -dict=fuzz/json.dict -max_total_time="$each" \
        ${options[$target]:--max_len=1048576} -timeout=10 -print_final_stats=1 -artifact_prefix="$build/findings/$target-" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "$target found a fault; the input is in $build/findings/" >&2
        exit 1
    fi
    grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)|^#[0-9]+.*DONE' "$log"
done
