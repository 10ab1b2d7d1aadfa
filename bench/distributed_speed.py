"""vantrel.distributed.render on a LocalCluster of 2 worker processes of 1 thread each against `vantrel
render --threads 2`, on the same machine, back to back at each size: throughput (samples a second of
wall time, from the call to the file in place) and its ratio, the cluster's over the program's; the CPU
time each took (the program's; the workers' processes' and the client's, which holds the scheduler);
and the cost of each part on its worker. Each size is measured program, cluster, cluster, program (with
--repeats 2, the default), so that a load that drifts weighs on both alike; the figures are the means.
The two files are compared byte for byte.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/distributed_speed.py SCENE WxH [WxH ...]
        [--parts N] [--repeats R] [--out FOLDER]

Not a test: it measures. The cluster's start (about a second) is left out; the program's is not.
"""

import argparse
import filecmp
import os
import resource
import statistics
import subprocess
import time

from distributed import Client, LocalCluster, get_task_stream

import vantrel.distributed

VANTREL = os.environ.get("VANTREL", "build/release/bin/vantrel")


def children_cpu():
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    return used.ru_utime + used.ru_stime


def program(scene, width, height, output):
    """The wall time of the render and the CPU time it took."""
    cpu = children_cpu()
    start = time.perf_counter()
    subprocess.run([VANTREL, "render", scene, "-o", output, "--size", f"{width}x{height}", "--threads", "2"],
                   check=True, capture_output=True)
    return time.perf_counter() - start, children_cpu() - cpu


def cluster_cpu(client):
    """The CPU time of the workers' processes and of this one (the client, the scheduler, the joiner)."""
    return sum(client.run(time.process_time).values()) + time.process_time()


def cluster(client, scene, width, height, output, parts):
    """The wall time of the render, the CPU time it took and, for each part, the seconds its task
    computed."""
    cpu = cluster_cpu(client)
    with get_task_stream(client) as stream:
        start = time.perf_counter()
        done = vantrel.distributed.render(scene, output, width, height, client=client, parts=parts,
                                          progress=False)
        seconds = time.perf_counter() - start
    cpu = cluster_cpu(client) - cpu
    computed = [sum(each["stop"] - each["start"] for each in task["startstops"] if each["action"] == "compute")
                for task in stream.data]
    return seconds, cpu, done["parts"], computed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scene")
    parser.add_argument("sizes", nargs="+")
    parser.add_argument("--parts", type=int)
    parser.add_argument("--repeats", type=int, default=2)
    parser.add_argument("--out", default="/tmp")
    options = parser.parse_args()
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as local, \
            Client(local) as client:
        for size in options.sizes:
            width, height = (int(x) for x in size.split("x"))
            samples = width * height
            alone = os.path.join(options.out, "distributed_speed.vantrel.png")
            spread = os.path.join(options.out, "distributed_speed.cluster.png")
            load = os.getloadavg()[0]
            timed = {"program": [], "cluster": []}
            cpu = {"program": [], "cluster": []}
            costs = []
            for turn in range(options.repeats):
                order = ("program", "cluster") if turn % 2 == 0 else ("cluster", "program")
                for which in order:
                    if which == "program":
                        seconds, used = program(options.scene, width, height, alone)
                    else:
                        seconds, used, parts, computed = cluster(client, options.scene, width, height, spread,
                                                                 options.parts)
                        costs += computed
                    timed[which].append(seconds)
                    cpu[which].append(used)
            same = filecmp.cmp(alone, spread, shallow=False)
            mean = {which: statistics.mean(times) for which, times in timed.items()}
            print(f"{options.scene} {width}x{height}, {parts} parts, load average {load:.2f} "
                  f"to {os.getloadavg()[0]:.2f}, files {'identical' if same else 'DIFFERENT'}")
            for which in ("program", "cluster"):
                print(f"  {which:8} {' '.join(f'{t:.2f}' for t in timed[which])} s: "
                      f"{samples / mean[which] / 1e6:.3f} M samples/s; CPU {statistics.mean(cpu[which]):.2f} s")
            print(f"  ratio cluster / program: throughput {mean['program'] / mean['cluster']:.3f}, "
                  f"CPU a sample {statistics.mean(cpu['program']) / statistics.mean(cpu['cluster']):.3f}")
            per_part = samples / parts
            print(f"  a part ({per_part / width:.0f} rows, {per_part / 1e6:.2f} M samples) on 1 thread: "
                  f"mean {statistics.mean(costs):.2f} s, min {min(costs):.2f}, max {max(costs):.2f}; "
                  f"{statistics.mean(costs) / per_part * 1e6:.3f} us a sample")


if __name__ == "__main__":
    main()
