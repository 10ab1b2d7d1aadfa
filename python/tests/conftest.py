"""What the package's tests share: the vantrel program, run as a user runs it, and the example scenes.

Run by CTest (python/CMakeLists.txt), which gives PYTHONPATH (the package as built), VANTREL (the
program) and VANTREL_SOURCE_DIR; by hand, from the repository's root:
PYTHONPATH=build/release/python VANTREL=build/release/bin/vantrel VANTREL_SOURCE_DIR=. /usr/bin/python3 -m pytest python/tests
"""

import os
import subprocess

import numpy as np
import pytest

SOURCE = os.path.abspath(os.environ.get("VANTREL_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", "..")))
EXAMPLES = os.path.join(SOURCE, "examples")
VANTREL = os.environ.get("VANTREL", os.path.join(SOURCE, "build", "release", "bin", "vantrel"))


def example(name):
    return os.path.join(EXAMPLES, name + ".json")


def run_vantrel(*args, stdin=""):
    """vantrel run with `args`; its result (returncode, stdout, stderr as text)."""
    return subprocess.run([VANTREL, *args], input=stdin, capture_output=True, text=True)


def vantrel_eval(scene, points, *options):
    """The lines `vantrel eval SCENE OPTIONS` prints for `points` (N, 3), each split into its words."""
    lines = "".join(" ".join(repr(float(x)) for x in point) + "\n" for point in points)
    result = run_vantrel("eval", scene, *options, stdin=lines)
    assert result.returncode == 0, result.stderr
    return [line.split(" ") for line in result.stdout.splitlines()]


def same_bits(a, b):
    """True when the float64 arrays hold the same doubles, bit for bit (any not-a-number matching any:
    a decimal `nan` keeps no sign or payload)."""
    a = np.asarray(a, dtype=np.float64)
    b = np.asarray(b, dtype=np.float64)
    return a.shape == b.shape and bool(np.all((a.view(np.uint64) == b.view(np.uint64)) |
                                              (np.isnan(a) & np.isnan(b))))


def positions():
    """2,600 positions, more than two of eval's chunks: directions all over the sphere, points of the
    plane out to 1e6, and the hostile ones (zero, -0, subnormal, huge, infinite, not a number)."""
    rng = np.random.default_rng(7)
    directions = rng.normal(size=(1500, 3))
    directions /= np.linalg.norm(directions, axis=1, keepdims=True)
    plane = np.column_stack([rng.uniform(-1, 1, (1000, 2)) * 10.0 ** rng.integers(-3, 7, (1000, 1)),
                             np.zeros(1000)])
    hostile = np.array([[0, 0, 0], [-0.0, -0.0, -0.0], [5e-324, 0, 1], [1e300, -1e300, 1e300],
                        [np.inf, 0, 0], [0, -np.inf, 1], [np.nan, 0.5, 0.5], [0.3, 0.2, 0]] * 12)
    return np.concatenate([directions, plane, hostile])


@pytest.fixture(scope="session")
def points():
    return positions()
