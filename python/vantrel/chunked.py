"""A render as a lazy ``dask.array`` whose chunks are exact windows of the whole image, and written to a
chunked store (zarr) by whatever Dask runs on, a chunk at a time.

    import vantrel, vantrel.chunked

    scene = vantrel.Scene.load("examples/leapfrog-sphere.json")
    planet = vantrel.chunked.array(scene, 65536, chunks=2048)  # (32768, 65536, 1) float64, nothing rendered
    vantrel.chunked.to_zarr(planet, "planet.zarr")             # rendered chunk by chunk, on the client's cluster

Each chunk is ``scene.render(..., window=CHUNK)``: bit for bit the same pixels as the whole render, so the
array, any slice of it and the store equal ``scene.render`` of the whole image, however it is chunked
and wherever the chunks are rendered. The guide is docs/scale.md.
"""

import os
import shutil
import tempfile

import dask.array
import numpy as np
from dask.base import tokenize

from . import Scene, _arguments, _image_arguments

__all__ = ["array", "to_zarr"]


def _window(scene, arguments, dtype, window):
    """A task: the pixels of ``window`` of the render, as a plain array of ``dtype``."""
    return np.asarray(scene.render(**arguments, window=window), dtype=dtype)


def array(scene, width=None, height=None, type=None, region=None, samples=None, node=None, *, chunks=1024,
          dtype=np.float64, threads=1):
    """The image ``scene.render`` makes with these arguments, height x width x channels of ``dtype``
    (float64, or float32 rounded from it), as a lazy ``dask.array``: nothing is rendered until it is
    computed, and then only the chunks asked for, each on ``threads`` threads. ``chunks`` is a side in
    pixels, (rows, columns), or what ``dask.array`` takes for the first two axes; a chunk holds every
    channel. ``scene`` is a Scene (with its settings), a dict of the scene format or a scene file's path;
    it travels to the workers as a pickled Scene.

    The arguments are checked here, once, as ``render`` checks them."""
    if not isinstance(scene, Scene):
        scene = Scene(scene) if isinstance(scene, dict) else Scene.load(scene)
    dtype = np.dtype(dtype)
    if dtype not in (np.float64, np.float32):
        _arguments.refuse("dtype", "numpy.float64 or numpy.float32", dtype)
    planned = _image_arguments(width, height, type, region, samples, node, threads)
    height, width, channels, kind = scene._native.planned(planned)
    if isinstance(chunks, int) and not isinstance(chunks, bool):
        chunks = (chunks, chunks)
    if not isinstance(chunks, tuple) or len(chunks) != 2:
        _arguments.refuse("chunks", "a side in pixels, or (rows, columns)", chunks)
    try:
        rows, columns, _ = dask.array.core.normalize_chunks((*chunks, channels), (height, width, channels))
    except (ValueError, TypeError):
        _arguments.refuse("chunks", f"chunks of a {height} x {width} image", chunks)
    arguments = {"width": width, "height": height, "type": kind, "region": region, "samples": samples,
                 "node": node, "threads": threads}
    name = "vantrel-render-" + tokenize(scene._native.json(), arguments, rows, columns, dtype.str)
    graph = {}
    for i, y in enumerate(np.cumsum((0,) + rows[:-1])):
        for j, x in enumerate(np.cumsum((0,) + columns[:-1])):
            window = (int(x), int(y), columns[j], rows[i])
            graph[(name, i, j, 0)] = (_window, scene, arguments, dtype, window)
    return dask.array.Array(graph, name, (rows, columns, (channels,)), dtype=dtype)


def to_zarr(image, path, *, overwrite=False):
    """Writes ``image`` (an ``array`` of a render, or any dask array) into a zarr store, a folder at
    ``path``, one chunk of the store for each of the array's, each written as soon as it is rendered:
    on the current Dask client's cluster if there is one, else on this machine's threads. The store
    is made beside its target and takes its place only once complete, so a failure or Ctrl-C leaves
    what stood at ``path`` as it was; a store already there is replaced only with ``overwrite``."""
    target = os.fsdecode(_arguments.path("path", path))
    overwrite = _arguments.flag("overwrite", overwrite)
    if os.path.lexists(target) and not overwrite:
        _arguments.refuse("path", "a path where nothing stands yet (or overwrite=True)", target)
    folder = os.path.dirname(os.path.abspath(target))
    pending = tempfile.mkdtemp(prefix=".pending-", suffix=".zarr", dir=folder)
    try:
        dask.array.to_zarr(image, pending, overwrite=True)
        if os.path.lexists(target):
            shutil.rmtree(target) if os.path.isdir(target) and not os.path.islink(target) else os.remove(target)
        os.rename(pending, target)
    except BaseException:
        shutil.rmtree(pending, ignore_errors=True)
        raise
