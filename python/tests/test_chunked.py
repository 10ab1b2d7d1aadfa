"""The lazy array of a render and its zarr store, computed on a real LocalCluster of two worker
processes, against the whole render, bit for bit; and a store that fails, which leaves its target."""

import os

import dask.array
import numpy as np
import pytest
import zarr
from distributed import Client, LocalCluster

import vantrel
import vantrel.chunked
from conftest import example, same_bits


@pytest.fixture(scope="module")
def client(tmp_path_factory):
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                      local_directory=tmp_path_factory.mktemp("workers")) as cluster, Client(cluster) as connected:
        yield connected


# Each case: the scene, the arguments of the render, and the chunks: uneven at the edges, one row of
# chunks, chunks of a sphere's region, a scene's settings made before it travels.
ARRAYS = [("leapfrog-fractal", {"width": 150, "height": 100, "samples": 2}, (64, 40)),
          ("globe-cells", {"width": 96, "region": (-90, -45, 90, 45)}, 32),
          ("hex-lattice-plane", {"width": 70, "height": 30, "type": "vec3"}, (30, 16)),
          ("distorted-lattice", {"width": 40, "height": 40, "type": "colora"}, ((10, 30), (25, 15)))]


@pytest.mark.parametrize("name, arguments, chunks", ARRAYS)
def test_the_lazy_array_is_the_whole_render(client, name, arguments, chunks):
    scene = vantrel.Scene.load(example(name))
    if name == "distorted-lattice":
        scene.set("lattice.Subdivision", 5)
    whole = np.asarray(scene.render(**arguments))
    lazy = vantrel.chunked.array(scene, **arguments, chunks=chunks)
    assert lazy.shape == whole.shape
    assert same_bits(client.compute(lazy).result(), whole)
    single = vantrel.chunked.array(scene, **arguments, chunks=chunks, dtype=np.float32)
    assert np.array_equal(client.compute(single).result(), whole.astype(np.float32), equal_nan=True)


def test_the_store_is_the_whole_render(client, tmp_path):
    scene = vantrel.Scene.load(example("leapfrog-sphere"))
    lazy = vantrel.chunked.array(scene, 128, chunks=(24, 50))
    vantrel.chunked.to_zarr(lazy, tmp_path / "planet.zarr")
    stored = zarr.open(str(tmp_path / "planet.zarr"), mode="r")
    assert stored.chunks == (24, 50, 3)
    assert same_bits(stored[:], scene.render(128))
    assert sorted(os.listdir(tmp_path)) == ["planet.zarr"]


def failing(block):
    raise RuntimeError("a chunk that fails")


def test_a_store_that_fails_leaves_its_target(client, tmp_path):
    scene = vantrel.Scene.load(example("globe-cells"))
    target = tmp_path / "globe.zarr"
    vantrel.chunked.to_zarr(vantrel.chunked.array(scene, 32, chunks=16), target)
    before = zarr.open(str(target), mode="r")[:]
    with pytest.raises(vantrel.InputError, match="overwrite=True"):
        vantrel.chunked.to_zarr(vantrel.chunked.array(scene, 64), target)
    broken = vantrel.chunked.array(scene, 64, chunks=16).map_blocks(failing, dtype=np.float64)
    with pytest.raises(RuntimeError, match="a chunk that fails"):
        vantrel.chunked.to_zarr(broken, target, overwrite=True)
    assert same_bits(zarr.open(str(target), mode="r")[:], before)
    assert sorted(os.listdir(tmp_path)) == ["globe.zarr"]
