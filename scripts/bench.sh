#!/usr/bin/env bash
# Builds the benchmarks (the bench preset: optimised, -DVANTREL_BENCH=ON) and runs them with repetitions; prints the median
# of every benchmark and the target ratios, both as Markdown tables.
#
#   scripts/bench.sh [REPETITIONS] [BENCHMARK OPTIONS...]     e.g. scripts/bench.sh 5 --benchmark_filter=Peer
#
# Per-sample benchmarks are timed in CPU time (ns a sample); the renders in wall-clock time (samples a
# second). Other work on the machine skews both: run it on an idle machine.
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=${1:-9}
shift || true
if ! [[ "$repetitions" =~ ^[0-9]+$ ]] || ((repetitions < 2)); then
    echo "bench.sh: expected a count of at least 2 repetitions (medians need several), not '$repetitions'" >&2
    exit 2
fi
build=build/bench

cmake --preset bench >/dev/null
cmake --build --preset bench --target vantrel_bench lattice_bench >/dev/null

read -r load _ </proc/loadavg
echo "$(nproc) cores, load average $load before the run"
csv=$(mktemp)
trap 'rm -f "$csv"' EXIT
for program in vantrel_bench lattice_bench; do
    "$build/bin/$program" --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
        --benchmark_format=csv "$@" 2>/dev/null >>"$csv"
done

awk -F, '
    # The CSV columns: name, iterations, real_time, cpu_time, time_unit, bytes_per_second, items_per_second.
    # Render/memory runs once: its rows are the runs themselves, its figure the label.
    $1 ~ /^"?Render\/memory/ && $1 !~ /_(mean|median|stddev|cv)"?$/ {
        name = $1
        gsub(/"/, "", name)
        sub(/\/(iterations|real_time).*$/, "", name)
        memory[++memories] = name
        peak[name] = $8
        gsub(/"/, "", peak[name])
        next
    }
    $1 ~ /_median"?$/ {
        name = $1
        gsub(/"/, "", name)
        sub(/_median$/, "", name)
        sub(/\/real_time$/, "", name)
        order[++count] = name
        ns[name] = $4
        rate[name] = $7
    }
    function ratio(label, over, under, limit, atMost,    value, met) {
        if (!(over in ns) || !(under in ns)) return
        value = over ~ /^Render/ ? rate[over] / rate[under] : ns[over] / ns[under]
        met = atMost ? value <= limit : value >= limit
        printf "| %s | %.2f | %s %.2f | %s |\n", label, value, atMost ? "<=" : ">=", limit, met ? "yes" : "no"
    }
    END {
        print "| benchmark | median ns a sample | median samples/s |"
        print "| --- | ---: | ---: |"
        for (i = 1; i <= count; ++i) {
            name = order[i]
            printf "| %s | %s | %.3g |\n", name, name ~ /^Render/ ? "" : sprintf("%.2f", ns[name]), rate[name]
        }
        if (memories > 0) {
            print ""
            print "| render (width/height/exr) | peak resident memory |"
            print "| --- | ---: |"
            for (i = 1; i <= memories; ++i)
                printf "| %s | %s |\n", memory[i], peak[memory[i]]
        }
        print ""
        print "| target | ratio | limit | met |"
        print "| --- | ---: | ---: | --- |"
        split("raster random", orders, " ")
        for (o = 1; o <= 2; ++o) {
            s = "/" orders[o]
            ratio("lattice plane double, host / libnoise Perlin" s, "Host/lattice-plane/double" s,
                  "Peer/libnoise-perlin" s, 0.75, 1)
            ratio("lattice sphere double, host / S2CellId" s, "Host/lattice-sphere/double" s,
                  "Peer/s2-cell-id" s, 1.25, 1)
        }
        for (i = 1; i <= count; ++i) {
            name = order[i]
            if (name !~ /^Direct\//) continue
            host = name
            sub(/^Direct\//, "Host/", host)
            label = name
            sub(/^Direct\//, "", label)
            ratio(label ", host / direct", host, name, 1.5, 1)
        }
        ratio("render, scene API, 2 threads / 1 thread", "Render/scene/threads:2", "Render/scene/threads:1", 1.8, 0)
        ratio("render to PNG 1024x512, vantrel program, 2 threads / 1 thread", "Render/vantrel/threads:2",
              "Render/vantrel/threads:1", 1.9, 0)
        ratio("render to OpenEXR 2048x1024, vantrel program, 2 threads / 1 thread", "Render/vantrel-exr/threads:2",
              "Render/vantrel-exr/threads:1", 1.8, 0)
        ratio("window 256x256 of 1024x512, time a pixel / the whole render'"'"'s", "Render/window/window:0",
              "Render/window/window:1", 1.2, 1)
        ratio("texture of a 100,352-triangle model 1024x512, time a pixel / the sphere'"'"'s", "Render/mesh/mesh:0",
              "Render/mesh/mesh:1", 1.3, 1)
        floor = "HostPart/virtual-call"
        direct = "Direct/w-distortion/Vec4d/raster"
        if ((floor in ns) && (direct in ns)) {
            print ""
            print "| bound, not a target | ratio |"
            print "| --- | ---: |"
            printf "| one virtual call a sample, composing W Distortion'"'"'s numbers / w-distortion direct | %.2f |\n",
                   ns[floor] / ns[direct]
        }
    }
' "$csv"
read -r load _ </proc/loadavg
echo
echo "load average $load after the run"
