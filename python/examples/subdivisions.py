"""The globe-cells example at three lattice subdivisions: each rendered into a PNG file, and its colour
at the direction (0.3, -0.2, 0.9) printed. Run from the repository's root, after the build:

    PYTHONPATH=build/release/python /usr/bin/python3 python/examples/subdivisions.py [FOLDER]
"""

import os
import sys

import vantrel

SCENE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "globe-cells.json")


def main(folder):
    scene = vantrel.Scene.load(SCENE)
    os.makedirs(folder, exist_ok=True)
    for subdivision in (1, 2, 4):
        scene.set("lattice.Subdivision", subdivision)
        image = scene.render(256)  # 256 x 128: the sphere is twice as wide as high
        scene.save_image(os.path.join(folder, f"globe-{subdivision}.png"), image)
        print(subdivision, scene.eval([0.3, -0.2, 0.9], "color"))


# The work is done only when the file is run, not when it is imported: a pool of processes (a
# multiprocessing pool, a Dask LocalCluster) starts each worker by importing the main script again.
if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "out")
