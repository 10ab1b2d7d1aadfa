"""Renders in parts on a Dask cluster: each part rendered by a task on a worker, kept beside the image
as it comes, and the parts joined on the client into the image file, byte for byte the file ``vantrel
render`` writes.

    from distributed import Client
    import vantrel.distributed

    if __name__ == "__main__":
        with Client("tcp://scheduler:8786") as client:
            vantrel.distributed.render("examples/leapfrog-sphere.json", "sphere.png", 16384, client=client)

The scene travels in each task pickled (its JSON with the settings made, and the SHA-256 of its modules'
files), so a worker needs no file of the client's, only the package and the same build of the modules
at the same paths. The guide is docs/scale.md.
"""

import functools
import json
import math
import os
import re
import sys
import time
import uuid
import zlib

from distributed import Client, as_completed

from . import PartJoiner, Scene, _arguments, _image_arguments, _module, _unpickled_scene, _vantrel

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
def _worker_scene(text, name, paths, versions, builds):
    """The scene of a task, built once in a worker process (a worker renders many parts of it) by the
    modules at ``paths``, refused unless their files are the client's to the SHA-256."""
    return _unpickled_scene(text, name, False, list(paths), list(versions), list(builds))


def _render_part(scene, render, image_format, depth, linear, part, parts):
    """A task: the bytes of part ``part`` of ``parts``, rendered on the worker."""
    return _worker_scene(*scene).render_part(part, parts, image_format, depth=depth, linear=linear, **render)


def _scene_of(scene):
    """The Scene the argument ``scene`` gives: a Scene as it is (with its settings), a dict of a scene's
    JSON, or the path of a scene file."""
    if isinstance(scene, Scene):
        return scene
    if isinstance(scene, dict):
        module = _module(None)
        native = _vantrel.Scene.parse(module._native, _arguments.scene_json("scene", scene), "scene")
        return Scene._made(native, module, "scene", False)
    return Scene.load(_arguments.path("scene", scene))


def render(scene, output_path, width, height=None, *, client, node=None, parts=None, type=None, samples=None,
           region=None, depth=None, linear=False, threads=1, ahead=None, retries=3, progress=None):
    """Renders ``scene`` (the path of a scene file, a dict of a scene's JSON, or a Scene with the
    settings ``set`` made) into the PNG or OpenEXR file ``output_path`` (by its extension) through the
    Dask ``client``'s workers, in ``parts`` parts: what ``vantrel render SCENE -o OUTPUT --size
    WIDTHxHEIGHT --node ID --type TYPE --samples N --region A,B,C,D --depth D [--linear]`` writes, byte
    for byte. ``height`` None keeps the pixels square over the domain or the region; ``node`` None
    renders the scene's output, ``type`` None is the scene's ``output_type`` and ``samples`` None its
    ``samples``, as for ``vantrel render``.

    Every argument is checked here, before any task is sent: a bad one raises InputError naming it and
    leaves no file. Each task takes the scene pickled, so the workers need no access to its file; a
    worker builds it with the modules at the client's paths, and refuses them unless their files have
    the client's SHA-256. A task renders one part on ``threads`` threads (a worker of T threads renders
    T parts at once). ``parts`` None: ``default_parts`` for the threads of the client's workers.

    Each part is kept as it comes, in the folder ``OUTPUT.parts`` beside the output, as the file
    ``K-of-N.FORMAT.part`` (written whole under another name, then renamed), and goes into the image in
    order: ``ahead`` parts (by default four for each worker thread) are asked for beyond the next to
    write, the next as soon as one is written. A render run again after it failed or was killed renders
    only the parts not kept, or kept of another render (another scene, setting, size, samples, format,
    module or vantrel version: the parts' headers tell). A task that fails is tried again up to
    ``retries`` times, and a task whose worker is lost is rendered again elsewhere (up to Dask's
    "distributed.scheduler.allowed-failures" times). The file takes the place of ``output_path`` only
    when complete, and the folder of parts is then removed: an error, or Ctrl-C, cancels the tasks and
    leaves the target as it was and the parts kept. ``progress`` shows a bar of the rows written on
    stderr (tqdm): None, on a terminal.

    Returns {"width", "height", "parts", "rendered" (the parts rendered by this call), "seconds"}.
    """
    start = time.monotonic()
    if not isinstance(client, Client):
        _arguments.refuse("client", "a distributed.Client", client)
    retries = _arguments.whole("retries", retries, 0)
    ahead = None if ahead is None else _arguments.whole("ahead", ahead, 1)
    linear = _arguments.flag("linear", linear)
    progress = sys.stderr.isatty() if progress is None else _arguments.flag("progress", progress)
    output_path = _arguments.path("output_path", output_path)
    scene = _scene_of(scene)
    arguments = _image_arguments(width, height, type, region, samples, node, threads)
    # At once: a bad name or an unwritable folder fails before any work.
    joiner = PartJoiner(output_path)
    try:
        image_format = os.path.splitext(joiner.path)[1][1:].lower()
        width, height, channels = scene._native.check_part(arguments, image_format, depth, linear, None)
        threads_in_all = max(sum(client.nthreads().values()), 1)
        if parts is None:
            channel_bytes = 4 if image_format == "exr" else (depth or 8) // 8
            parts = default_parts(width, height, channels, channel_bytes, threads_in_all, image_format == "png")
        scene._native.check_part(arguments, image_format, depth, linear, parts)
        render = {"width": width, "height": height, "type": type, "region": region, "samples": samples,
                  "node": node, "threads": threads}
        kept = _Kept(joiner.path + ".parts", image_format, parts)
        kept.resume(lambda: scene.render_part(1, height, image_format, depth=depth, linear=linear, **render))
        # The scene as it pickles, in the words _worker_scene keeps it by.
        text, name, _, paths, versions, builds = scene.__reduce__()[1]
        task = ((text, name, tuple(paths), tuple(versions), tuple(builds)), render, image_format, depth, linear)
        rendered = _join(client, joiner, task, kept, 4 * threads_in_all if ahead is None else ahead, retries,
                         progress, height)
    except BaseException:
        joiner.abort()
        raise
    kept.remove()
    return {"width": width, "height": height, "parts": parts, "rendered": rendered,
            "seconds": time.monotonic() - start}


#: The first bytes of a part file (docs/vantrel.md, "The part file").
_SIGNATURE = b"\x89VPART\r\n"
#: The name of a kept part, and of one being written.
_KEPT_NAME = re.compile(r"([1-9][0-9]*)-of-([1-9][0-9]*)\.(png|exr)\.part")
_PENDING_NAME = re.compile(r"\.[1-9][0-9]*-of-[1-9][0-9]*\.(png|exr)\.part\.[0-9a-f]+\.pending")


def _header(data):
    """The header of a part file's bytes, a dict, or None when they are no whole part file (its CRC-32
    does not match)."""
    if len(data) < 16 or data[:8] != _SIGNATURE or zlib.crc32(data[:-4]) != int.from_bytes(data[-4:], "big"):
        return None
    try:
        header = json.loads(data[12:12 + int.from_bytes(data[8:12], "big")])
    except ValueError:
        return None
    return header if isinstance(header, dict) else None


class _Kept:
    """The parts of one render kept in ``folder``, ``K-of-N.FORMAT.part``, each written whole under a
    name of its own and then renamed, so that a client killed at any moment leaves whole parts."""

    def __init__(self, folder, image_format, parts):
        self.folder, self.format, self.parts = folder, image_format, parts
        self.paths = {}  # part -> its file, of this render

    def path(self, part):
        return os.path.join(self.folder, f"{part}-of-{self.parts}.{self.format}.part")

    def resume(self, probe):
        """Takes up the parts of this render a run before kept, and removes the rest of what runs keep
        there (parts of other renders, files left half written). ``probe`` gives the bytes of a part
        file of this render, whose header's "render" (its digest among the rest) the kept parts must
        have: called only when there are any."""
        os.makedirs(self.folder, exist_ok=True)
        names = [name for name in os.listdir(self.folder)
                 if _KEPT_NAME.fullmatch(name) or _PENDING_NAME.fullmatch(name)]
        identity = _header(probe())["render"] if names else None
        for name in names:
            named = _KEPT_NAME.fullmatch(name)
            path = os.path.join(self.folder, name)
            if named and (int(named[2]), named[3]) == (self.parts, self.format) and int(named[1]) <= self.parts:
                with open(path, "rb") as file:
                    header = _header(file.read())
                said = header and (header.get("render"), header.get("part"), header.get("parts"))
                if said == (identity, int(named[1]), self.parts):
                    self.paths[int(named[1])] = path
                    continue
            os.remove(path)

    def keep(self, part, data):
        """Keeps part ``part``, the bytes of its part file."""
        path = self.path(part)
        pending = os.path.join(self.folder, f".{os.path.basename(path)}.{uuid.uuid4().hex}.pending")
        try:
            with open(pending, "xb") as file:
                file.write(data)
                file.flush()
                os.fsync(file.fileno())
            os.replace(pending, path)
        except BaseException:
            if os.path.exists(pending):
                os.remove(pending)
            raise
        self.paths[part] = path

    def read(self, part):
        with open(self.paths[part], "rb") as file:
            return file.read()

    def remove(self):
        """Removes the parts, once in the image, and the folder unless something else is in it."""
        for path in self.paths.values():
            os.remove(path)
        if not os.listdir(self.folder):
            os.rmdir(self.folder)


def _join(client, joiner, task, kept, ahead, retries, progress, height):
    """Has the workers render the parts not kept, at most ``ahead`` beyond the next to write, keeps
    them as they come and joins the parts in order. Returns how many it had rendered."""
    from tqdm import tqdm

    render_id = uuid.uuid4().hex[:12]
    parts = kept.parts
    missing = [part for part in range(1, parts + 1) if part not in kept.paths]
    pending = {}  # part -> its future, submitted and not yet kept
    following = 1  # the next part to write
    submitted = 0  # of the missing parts
    done = as_completed()

    def submit_to(last):
        nonlocal submitted
        while submitted < len(missing) and missing[submitted] <= last:
            part = missing[submitted]
            submitted += 1
            # Earlier parts first: they are written first. The key names the part on the dashboard.
            future = client.submit(_render_part, *task, part, parts, retries=retries, priority=-part,
                                   key=f"vantrel-part-{render_id}-{part}")
            pending[part] = future
            done.add(future)

    with tqdm(total=height, unit="row", desc=os.path.basename(joiner.path), disable=not progress,
              file=sys.stderr) as bar:
        try:
            while True:
                while following in kept.paths:
                    joiner.add(kept.read(following), f"part {following} of {parts}")
                    bar.update(_rows(height, following, parts))
                    following += 1
                submit_to(following + ahead - 1)
                future = next(done, None)
                if future is None:
                    break
                part = int(future.key.rsplit("-", 1)[1])
                kept.keep(part, future.result())  # raises the task's error after its retries
                del pending[part]  # the worker may forget it
            joiner.finish()
        except BaseException:
            client.cancel(list(pending.values()))
            raise
    return len(missing)


def _rows(height, part, parts):
    """The rows of part ``part`` of ``parts`` of ``height`` rows."""
    return part * height // parts - (part - 1) * height // parts
