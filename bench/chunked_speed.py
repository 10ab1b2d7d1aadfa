"""vantrel.chunked: a render as a lazy array written to a zarr store on a LocalCluster of 2 worker
processes of 1 thread each, against `vantrel render --threads 2` writing the PNG of the same image, on
the same machine, back to back (program, store, store, program, so that a load that drifts weighs on
both alike): throughput in pixels a second of wall time, from the call to the store or file complete,
and its ratio, the store's over the program's. The store's pixels are checked against the program's
render of a few windows.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/chunked_speed.py SCENE WxH
        [--chunks N] [--dtype float32|float64] [--out FOLDER]

Not a test: it measures. The cluster's start (about a second) is left out; the program's is not.
"""

import argparse
import os
import shutil
import statistics
import time

import numpy as np
import zarr
from distributed import Client, LocalCluster

import vantrel
import vantrel.chunked
from distributed_speed import program


def store(scene, width, height, chunks, dtype, path):
    """The wall time of the lazy array written to a fresh store at `path`."""
    shutil.rmtree(path, ignore_errors=True)
    start = time.perf_counter()
    image = vantrel.chunked.array(scene, width, height, chunks=chunks, dtype=dtype)
    vantrel.chunked.to_zarr(image, path)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scene")
    parser.add_argument("size")
    parser.add_argument("--chunks", type=int, default=2048)
    parser.add_argument("--dtype", default="float32", choices=("float32", "float64"))
    parser.add_argument("--out", default="/tmp")
    options = parser.parse_args()
    width, height = (int(x) for x in options.size.split("x"))
    scene = vantrel.Scene.load(options.scene)
    path = os.path.join(options.out, "chunked_speed.zarr")
    png = os.path.join(options.out, "chunked_speed.png")
    timed = {"program": [], "store": []}
    load = os.getloadavg()[0]
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as local, \
            Client(local):
        for which in ("program", "store", "store", "program"):
            if which == "program":
                timed[which].append(program(options.scene, width, height, png)[0])
            else:
                timed[which].append(store(scene, width, height, options.chunks, options.dtype, path))
    stored = zarr.open(path, mode="r")
    corner = (width // 3, height // 3, min(256, width), min(256, height))
    x, y, w, h = corner
    same = np.array_equal(stored[y:y + h, x:x + w],
                          np.asarray(scene.render(width, height, window=corner), dtype=options.dtype))
    mean = {which: statistics.mean(times) for which, times in timed.items()}
    print(f"{options.scene} {width}x{height}, chunks of {options.chunks}, {options.dtype}, load average "
          f"{load:.2f} to {os.getloadavg()[0]:.2f}, a window of the store {'equal to' if same else 'NOT'} the render")
    for which in ("program", "store"):
        print(f"  {which:8} {' '.join(f'{t:.2f}' for t in timed[which])} s: "
              f"{width * height / mean[which] / 1e6:.3f} M pixels/s")
    print(f"  ratio store / program: throughput {mean['program'] / mean['store']:.3f}")
    shutil.rmtree(path, ignore_errors=True)
    os.remove(png)


if __name__ == "__main__":
    main()
