"""Samples a second of the Python package against `vantrel render`, on one scene at 1024 x 512:
render() into an array, eval() at the same positions given as an array, and vantrel render to a
PNG as it reports itself (the render and the file, not the program's start). Best of REPEATS runs each.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_speed.py SCENE TYPE [REPEATS] [THREADS]
"""

import subprocess
import sys
import time

import numpy as np

import vantrel

WIDTH, HEIGHT = 1024, 512


def best(repeats, work):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return min(times)


def main(scene_file, kind, repeats=5, threads=None):
    scene = vantrel.Scene.load(scene_file)
    count = WIDTH * HEIGHT
    # The render's own positions, in its order (random positions cost more: they defeat the branch
    # predictor, docs/performance.md): a W Distortion added to the scene passes each on as a vec4.
    described = scene.to_dict()
    described["nodes"].append({"id": "where", "type": "W Distortion", "params": {"Position": {"link": "@position"}}})
    where = vantrel.Scene(described).render(WIDTH, HEIGHT, "vec4", node="where")[..., :3].reshape(-1, 3).copy()
    rendered = best(repeats, lambda: scene.render(WIDTH, HEIGHT, kind, threads=threads))
    evaluated = best(repeats, lambda: scene.eval(where, kind, threads=threads))
    command = ["build/release/bin/vantrel", "render", scene_file, "-o", "/tmp/python_speed.png",
               "--size", f"{WIDTH}x{HEIGHT}", "--type", kind] + (["--threads", str(threads)] if threads else [])
    reported = max(float(subprocess.run(command, check=True, capture_output=True, text=True).stdout.split()[-5])
                   for _ in range(repeats))
    print(f"{scene_file} {kind}: vantrel render {reported / 1e6:.2f} M samples/s, "
          f"render() {count / rendered / 1e6:.2f}, eval() {count / evaluated / 1e6:.2f}")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], *(int(x) for x in sys.argv[3:5]))
