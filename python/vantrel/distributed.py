"""Renders in parts on a Dask cluster: each part rendered by a task on a worker, the parts joined on the
client into the image file, byte for byte the file ``vantrel render`` writes.

    from distributed import Client
    import vantrel.distributed

    if __name__ == "__main__":
        with Client("tcp://scheduler:8786") as client:
            vantrel.distributed.render("examples/leapfrog-sphere.json", "sphere.png", 16384, client=client)

The scene travels in each task as its JSON, so a worker needs no file of the client's; each worker needs
the package (and the two modules beside it, or those $VANTREL_MODULE names) itself. The guide is docs/scale.md.
"""

import functools
import math
import os
import sys
import time
import uuid

from distributed import Client, as_completed

from . import PartJoiner, Scene, _arguments, _image_arguments, _module, _vantrel

__all__ = ["default_parts", "render"]

#: The most pixel bytes a part holds by default, before they are encoded (a PNG's 8 or 16 bits a
#: channel, an OpenEXR image's 32-bit floats), so that the parts in flight fit in memory however wide
#: the image.
PART_BYTES = 64 << 20


def default_parts(width, height, channels, channel_bytes, threads, png=True):
    """The parts of a ``width`` x ``height`` image of ``channels`` channels of ``channel_bytes`` bytes on
    a cluster of ``threads`` worker threads in all.

    Sixteen for each thread: the rows of a map differ in cost (a fractal's parts by more than 5 to 1),
    and the last parts end at different times, so that the threads idle at the end for about half a
    part each: some 3% of the render with 16 parts a thread, 12% with 4. But for a PNG, not so many
    that the rows
    above each part, which its render samples as well to prime its deflate stream (those that hold
    32 KiB of the image, and one more), cost more than a twentieth of its own; and at least as many
    as keep each under PART_BYTES of pixels. At most one for each row."""
    parts = 16 * threads
    if png:
        above = math.ceil(32768 / (1 + width * channels * channel_bytes)) + 1
        parts = max(threads, min(parts, height // (20 * above)))
    by_size = math.ceil(width * height * channels * channel_bytes / PART_BYTES)
    return max(1, min(height, max(parts, by_size)))


@functools.lru_cache(maxsize=4)
def _worker_scene(text, name):
    """The scene of a task's JSON, built once in a worker process (a worker renders many parts of it)."""
    module = _module(None)
    return Scene._made(_vantrel.Scene.parse(module._native, text, name), module, name, True)


def _render_part(text, name, arguments, image_format, depth, linear, part, parts):
    """A task: the bytes of part ``part`` of ``parts``, rendered on the worker."""
    return _worker_scene(text, name).render_part(part, parts, image_format, depth=depth, linear=linear,
                                                 **arguments)


def render(scene_path, output_path, width, height=None, *, client, parts=None, type=None, samples=None,
           region=None, depth=None, linear=False, threads=1, window=None, retries=3, progress=None):
    """Renders the scene in the file ``scene_path`` into the PNG or OpenEXR file ``output_path`` (by its
    extension) through the Dask ``client``'s workers, in ``parts`` parts: what ``vantrel render
    SCENE -o OUTPUT --size WIDTHxHEIGHT --type TYPE --samples N --region A,B,C,D --depth D [--linear]``
    writes, byte for byte. ``height`` None keeps the pixels square over the domain or the region;
    ``type`` None is the scene's ``output_type`` and ``samples`` None its ``samples``, as for ``vantrel
    render``.

    The scene is read and checked here, and each task takes its JSON, so that the workers need no
    access to the file; each worker loads its own modules (the two beside its package, or those
    $VANTREL_MODULE names), and parts rendered by different modules are refused. A task renders one part on
    ``threads`` threads (a worker of T threads renders T parts at once). ``parts`` None:
    ``default_parts`` for the threads of the client's workers.

    The parts go into the file in order as they come: ``window`` parts (by default four for each
    worker thread) are asked for at a time, the next as soon as one is written, and a part that comes
    before its turn is held until then, so the client holds at most ``window`` parts. A task that
    fails is tried again up to ``retries`` times, and a task whose worker is lost is rendered again
    elsewhere (up to Dask's "distributed.scheduler.allowed-failures" times). The file takes the place
    of ``output_path`` only when complete: an error, or Ctrl-C, cancels the tasks and leaves the target
    as it was. ``progress`` shows a bar of the rows written on stderr (tqdm): None, on a terminal.

    Returns {"width", "height", "parts", "seconds"}.
    """
    start = time.monotonic()
    if not isinstance(client, Client):
        _arguments.refuse("client", "a distributed.Client", client)
    retries = _arguments.whole("retries", retries, 0)
    window = None if window is None else _arguments.whole("window", window, 1)
    linear = _arguments.flag("linear", linear)
    scene_path = os.fsdecode(_arguments.path("scene_path", scene_path))
    scene = Scene.load(scene_path)
    arguments = _image_arguments(width, height, type, region, samples, threads=threads)
    # At once: a bad name or an unwritable folder fails before any work.
    joiner = PartJoiner(_arguments.path("output_path", output_path))
    try:
        image_format = os.path.splitext(joiner.path)[1][1:].lower()
        width, height, channels = scene._native.check_part(arguments, image_format, depth, linear, None)
        threads_in_all = sum(client.nthreads().values())
        if parts is None:
            channel_bytes = 4 if image_format == "exr" else (depth or 8) // 8
            parts = default_parts(width, height, channels, channel_bytes, max(threads_in_all, 1),
                                  image_format == "png")
        scene._native.check_part(arguments, image_format, depth, linear, parts)
        window = 4 * max(threads_in_all, 1) if window is None else window
        task = (scene._native.json(), scene_path,
                {"width": width, "height": height, "type": type, "region": region, "samples": samples,
                 "threads": threads},
                image_format, depth, linear)
        _join(client, joiner, task, parts, window, retries,
              sys.stderr.isatty() if progress is None else progress, height)
    except BaseException:
        joiner.abort()
        raise
    return {"width": width, "height": height, "parts": parts, "seconds": time.monotonic() - start}


def _join(client, joiner, task, parts, window, retries, progress, height):
    """Has the workers render the parts, at most ``window`` ahead of the next to write, and joins them."""
    from tqdm import tqdm

    render_id = uuid.uuid4().hex[:12]
    pending = {}  # part -> its future, submitted and not yet written
    arrived = {}  # part -> its bytes, come before their turn
    following = 1  # the next part to write
    submitted = 0
    done = as_completed()

    def submit_to(last):
        nonlocal submitted
        while submitted < min(last, parts):
            submitted += 1
            # Earlier parts first: they are written first. The key names the part on the dashboard.
            future = client.submit(_render_part, *task, submitted, parts, retries=retries, priority=-submitted,
                                   key=f"vantrel-part-{render_id}-{submitted}")
            pending[submitted] = future
            done.add(future)

    with tqdm(total=height, unit="row", desc=os.path.basename(joiner.path), disable=not progress,
              file=sys.stderr) as bar:
        try:
            submit_to(window)
            for future in done:
                part = int(future.key.rsplit("-", 1)[1])
                arrived[part] = future.result()  # raises the task's error after its retries
                while following in arrived:
                    joiner.add(arrived.pop(following), f"part {following} of {parts}")
                    del pending[following]  # the worker may forget it
                    bar.update(_rows(height, following, parts))
                    following += 1
                    submit_to(following + window - 1)
            joiner.finish()
        except BaseException:
            client.cancel(list(pending.values()))
            raise


def _rows(height, part, parts):
    """The rows of part ``part`` of ``parts`` of ``height`` rows."""
    return part * height // parts - (part - 1) * height // parts
