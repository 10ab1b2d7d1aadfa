"""Windows of an image's pixel grid, bit for bit the same pixels of the whole render, through every door;
and the positions a render samples, which make the render again."""

import numpy as np
import pytest

import vantrel
from conftest import example, run_vantrel, same_bits

# Each case: the scene, the type, the whole image's size, the region, the samples, and the window X, Y,
# W, H: corners and edges of the grid, one row, one pixel, the whole image; plane, sphere and a model's
# texture (whose padding pixels take samples from outside the window), and a region of each but the last.
WINDOWS = [("hex-lattice-plane", "double", (97, 61), None, 1, (0, 0, 20, 15)),
           ("hex-lattice-plane", "color", (97, 61), (-1.5, -0.5, 2.5, 1), 3, (80, 50, 17, 11)),
           ("leapfrog-sphere", "double", (128, None), None, 2, (1, 0, 126, 1)),
           ("globe-cells", "color", (90, 45), (-90, -30, 60, 45), 1, (44, 20, 1, 1)),
           ("leapfrog-fractal", "int", (64, 48), None, 1, (7, 9, 30, 39)),
           ("distorted-lattice", "colora", (50, 40), None, 2, (0, 0, 50, 40)),
           ("w-distortion", "vec3", (33, 17), None, 4, (32, 16, 1, 1)),
           ("lattice-pebble", "colora", (64, None), None, 2, (50, 0, 14, 20))]


@pytest.mark.parametrize("name, kind, size, region, samples, window", WINDOWS)
def test_a_window_is_the_whole_render_s_pixels(name, kind, size, region, samples, window):
    scene = vantrel.Scene.load(example(name))
    whole = scene.render(*size, kind, region, samples, threads=2)
    part = scene.render(*size, kind, region, samples, window=window, threads=3)
    x, y, width, height = window
    assert part.shape == (height, width, whole.shape[2]) and part.output_type == kind
    assert same_bits(part, whole[y:y + height, x:x + width])


# Each case: the scene, the samples, the window.
POSITIONS = [("hex-lattice-plane", 1, None), ("leapfrog-sphere", 2, (3, 4, 10, 6)),
             ("globe-cells", 3, (0, 0, 5, 5)), ("lattice-pebble", 2, (20, 0, 4, 12))]


@pytest.mark.parametrize("name, samples, window", POSITIONS)
def test_a_render_is_the_mean_of_its_sample_positions(name, samples, window):
    scene = vantrel.Scene.load(example(name))
    positions = scene.sample_positions(24, 12, samples=samples, window=window)
    height, width = (12, 24) if window is None else (window[3], window[2])
    assert positions.shape == (height, width, samples * samples, 3)
    values = scene.eval(positions, "double")
    total = values[:, :, 0]
    for k in range(1, samples * samples):  # in the render's order: each pixel's first sample, then on
        total = total + values[:, :, k]
    expected = total / (samples * samples) if samples > 1 else total
    assert same_bits(scene.render(24, 12, "double", samples=samples, window=window)[:, :, 0], expected)


def test_vantrel_render_writes_the_window_whole_and_in_parts(tmp_path):
    scene = vantrel.Scene.load(example("globe-cells"))
    expected = scene.render(96, 48, window=(10, 5, 40, 20)).to_png()
    options = [example("globe-cells"), "--size", "96x48", "--window", "10,5,40,20"]
    result = run_vantrel("render", *options, "-o", str(tmp_path / "window.png"))
    assert result.returncode == 0, result.stderr
    assert (tmp_path / "window.png").read_bytes() == expected
    parts = [str(tmp_path / f"window.{k}.png.part") for k in (1, 2)]
    for k, part in enumerate(parts, 1):
        result = run_vantrel("render", *options, "--part", f"{k}/2", "-o", part)
        assert result.returncode == 0, result.stderr
    result = run_vantrel("join", *parts, "-o", str(tmp_path / "joined.png"))
    assert result.returncode == 0, result.stderr
    assert (tmp_path / "joined.png").read_bytes() == expected
