"""Scenes of the VantrelFunctions nodes, evaluated and rendered from Python.

    import numpy as np, vantrel
    scene = vantrel.Scene.load("examples/globe-cells.json")
    scene.set("lattice.Subdivision", 3)
    colours = scene.eval(np.array([[0, 0, 1], [0.3, -0.2, 0.9]]))   # (2, 3) float64
    image = scene.render(512, 256)                                    # (256, 512, 3) float64
    scene.save_image("globe.png", image)

The package loads the modules through their three exports, as the ``vantrel`` program does: the
product's five node types and the host's own node library. It computes
every value with the program's own scene and render libraries: ``eval`` gives the doubles ``vantrel
eval`` prints, ``render`` the values ``vantrel render`` writes, ``save_image`` its PNG and OpenEXR files
byte for byte. The guide is docs/python.md.
"""

import hashlib
import json
import os
import threading

import numpy as np

from . import _arguments, _vantrel
from ._errors import Error, FailureError, InputError
from ._image import Image, _send_images_whole, _type_of

__all__ = ["Error", "FailureError", "Image", "InputError", "Module", "PartJoiner", "Scene", "load_module",
           "node_types"]
__version__ = "3.0"

_HERE = os.path.dirname(os.path.abspath(__file__))
#: The module's file beside the package, and the host's node library's, which it loads unless told
#: otherwise.
MODULE_FILE = "VantrelFunctions.so"
NODES_FILE = "QuibNodes.so"
_RENDER_ARGUMENTS = ("width", "height", "type", "region", "samples", "node", "window")

_modules = {}
_default_module = None
_modules_lock = threading.Lock()


class Module:
    """Modules of node types loaded together, kept loaded while any scene of them lives.

    ``paths`` are their files and ``versions`` their versions, in the order they are searched for a
    node type; ``path`` and ``version`` are the first's. ``node_types()`` lists every node type.
    """

    def __init__(self, native):
        self._native = native
        self._builds = None

    @property
    def paths(self):
        return list(self._native.paths)

    @property
    def versions(self):
        return list(self._native.versions)

    @property
    def path(self):
        return self.paths[0]

    @property
    def version(self):
        return self.versions[0]

    def node_types(self):
        """The node types with their modules, parameters, curves and gradients: the object ``vantrel
        list --json`` prints, {"module", "version", "guide", "modules", "types": [...]}."""
        return json.loads(self._native.listing())

    @property
    def builds(self):
        """The SHA-256 digests of the files as first asked for, one for each path: what tells one build
        of a module from another of the same version."""
        if self._builds is None:
            digests = []
            for path in self.paths:
                with open(path, "rb") as file:
                    digests.append(hashlib.file_digest(file, "sha256").hexdigest())
            self._builds = digests
        return list(self._builds)

    def __repr__(self):
        return f"vantrel.Module({self.paths!r}, versions {self.versions})"


def _module_files():
    """The modules vantrel loads: those $VANTREL_MODULE names (separated by os.pathsep; an empty entry
    names nothing), else the two beside the package."""
    named = [path for path in os.environ.get("VANTREL_MODULE", "").split(os.pathsep) if path]
    return named or [os.path.join(_HERE, MODULE_FILE), os.path.join(_HERE, NODES_FILE)]


def load_module(path=None):
    """Loads the module in the file ``path``, or the modules in a list of files, searched in that order
    for a node type (by default those $VANTREL_MODULE names, separated by os.pathsep, else the product's
    and the host's node library beside the package), and makes them the ones every call without
    ``module=`` uses. Files are loaded once; a name without a folder is a file in the current folder.
    Raises InputError when a file is not a module (a library of another machine, cut short, without the
    three exports) or two offer a node type of the same name."""
    global _default_module
    module = _module_at("path", _module_files() if path is None else path)
    with _modules_lock:
        _default_module = module
    return module


def _module_at(argument, paths):
    """The modules in the file or list of files ``paths``, the argument ``argument``, loaded once."""
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    elif not isinstance(paths, (list, tuple)) or not paths:
        _arguments.refuse(argument, "the path of a module's file, or a list of them", paths)
    paths = [_arguments.path(argument, path) for path in paths]
    key = tuple(os.path.realpath(path) for path in paths)
    with _modules_lock:
        if key not in _modules:
            _modules[key] = Module(_vantrel.Modules(paths))
        return _modules[key]


def _module(module):
    """The modules a call names (a Module, a file or a list of files), else those in use, loaded at
    first need."""
    if isinstance(module, Module):
        return module
    if module is not None:
        return _module_at("module", module)
    with _modules_lock:
        chosen = _default_module
    return chosen if chosen is not None else load_module()


def node_types(module=None):
    """The node types of the modules in use (or ``module``): what ``vantrel list --json`` prints."""
    return _module(module).node_types()


def _image_arguments(width=None, height=None, type=None, region=None, samples=None, node=None, threads=None,
                     window=None):
    """The native arguments of a render; what is None the render takes from the scene or its defaults."""
    return _vantrel.ImageArguments(width=width, height=height, type=type, region=region, window=window,
                                   samples=samples, node=node, threads=threads)


class Scene:
    """A scene: a graph of the module's nodes, built and checked as ``vantrel`` builds a scene file
    (docs/scene-format.md), ready to evaluate from any number of threads.

    ``Scene(description)`` builds the scene a dict in the scene format describes; ``Scene.load(path)``
    reads a scene file. ``module=`` names the module (a Module or a file) in place of the one in use;
    ``name=`` is what errors call a dict's scene. A scene that is not sound raises InputError with the
    message ``vantrel`` gives, the JSON Pointer of the value at fault and, for a file, its line and
    column.
    """

    def __init__(self, description, *, module=None, name="scene"):
        chosen = _module(module)
        self._native = _vantrel.Scene.parse(chosen._native, _arguments.scene_json("description", description), name)
        self._module, self._name, self._file = chosen, name, False

    @classmethod
    def _made(cls, native, module, name, file):
        """The scene of the extension's ``native``, built of ``module``, named ``name``, read from a file
        or not."""
        scene = cls.__new__(cls)
        scene._native, scene._module, scene._name, scene._file = native, module, name, file
        return scene

    def __repr__(self):
        described = self.to_dict()
        count = len(described["nodes"])
        source = repr(self._name) if self._file else f"of a dict, {self._name!r}"
        return (f"<vantrel.Scene {source}: {count} node{'' if count == 1 else 's'}, output "
                f"{described['output']} ({self.output_type}), {self.domain['kind']} domain>")

    def __reduce__(self):
        # A copy in another process (pickle, multiprocessing, Dask) is the scene's JSON with the
        # settings made, built by the modules at the same paths, which must be the same build.
        module = self._module
        return _unpickled_scene, (self._native.json(), self._name, self._file, module.paths, module.versions,
                                  module.builds)

    @property
    def output_type(self):
        """The scene's "output_type", the type that ``eval``, ``render`` and ``save_image`` take when
        given none: color if the scene names none."""
        return self._native.output_type()

    @property
    def samples(self):
        """The scene's "samples", the sub-samples along each side of a pixel that ``render`` and
        ``save_image`` take when given none: 1 if the scene names none."""
        return self._native.samples()

    @classmethod
    def load(cls, path, *, module=None):
        """The scene in the file ``path``; errors name the file as given."""
        chosen = _module(module)
        named = _arguments.path("path", path)
        return cls._made(_vantrel.Scene.load(chosen._native, named), chosen, os.fsdecode(named), True)

    def set(self, key, value):
        """Gives the parameter ``key``, "ID.PARAM" (a node's id, a dot and the name of one of its parameters), the value
        ``value``, as ``vantrel --set ID.PARAM=VALUE`` does: a number, a list of numbers, a
        ``{"link": ID}`` dict or a string, written as in a scene file. The scene is built again with it
        and checked as the command line checks it, so a bad value raises InputError with the same
        message ("FILE (with --set ...)") and leaves the scene as it was. A later setting of the same
        parameter replaces the earlier one."""
        self._native.set(key, _arguments.scene_json("value", value))

    def eval(self, points, type=None, *, node=None, threads=None, out=None, dtype=None):
        """The value of the output node (or of the node ``node``) at every position of ``points``, an
        array of shape (..., 3): what ``vantrel eval --type TYPE`` prints for each, to the bit.

        ``type`` is one of string, colora, color, quaternion, vec4, vec3, vec2, double and int, by
        default the scene's ``output_type``. The result has the shape of ``points`` without its last
        axis, then the type's components: float64 (N,) for double, int32 (N,) for int, float64 (N, 3)
        for color and vec3, (N, 4) for colora, vec4 and quaternion, (N, 2) for vec2, and an object array
        of str for string; a single position (3,) gives a single value. ``threads`` evaluation threads
        (1 to 1024, default one for each core the process may run on) take the positions in chunks of 1024; the interpreter's
        lock is released meanwhile, and Ctrl-C stops the evaluation after the samples being taken.

        ``dtype`` numpy.float32 gives the reals of a new result as float32 (numpy.float64, the
        default, as they are): each is computed in double and rounded only as it is stored. ``out``
        takes them in place of a new result, and is returned: a writable C-contiguous array of the
        result's shape, float64 or float32 (int32 for int; none for string).
        """
        expected = "an array of positions x, y, z of real numbers, shaped (..., 3)"
        positions = _arguments.reals("points", points, expected)
        if positions.ndim < 1 or positions.shape[-1] != 3:
            _arguments.refuse("points", expected, points, f"one shaped {positions.shape}")
        lead = positions.shape[:-1]
        type = self.output_type if type is None else type
        target = _arguments.result(type, lead, out, dtype)
        flat = None if target is None else target.reshape(-1)
        values = self._native.eval(np.ascontiguousarray(positions.reshape(-1, 3)), type, node, threads, flat)
        if out is not None:
            return out
        if target is not None:
            return target[()] if target.ndim == 0 else target
        if type == "string":
            texts = np.empty(len(values), dtype=object)
            texts[:] = values
            values = texts
        shaped = values.reshape(lead + values.shape[1:])
        return shaped[()] if shaped.ndim == 0 else shaped

    def render(self, width=None, height=None, type=None, region=None, samples=None, node=None, *,
               window=None, threads=None):
        """The image ``vantrel render --size WIDTHxHEIGHT --type TYPE`` makes, as an Image (a numpy
        array of height x width x channels float64), before a file clamps or rounds it.

        ``width`` is 512 by default; ``height`` None keeps the pixels square over the domain (half the width for the sphere).
        ``region`` (A, B, C, D) renders part of the domain: the plane from (A, B) to (C, D), or the
        sphere from longitude A to C and latitude B to D in degrees. ``samples`` N takes N x N samples
        a pixel and averages them (not for int; by default the scene's ``samples``). ``node`` renders another node than the output;
        ``threads`` as in ``eval``. Each pixel is what ``vantrel eval`` gives at the pixel's centre on
        the domain (with one sample), whatever the threads.

        ``window`` (X, Y, W, H) makes only the pixels X to X + W - 1 of the rows Y to Y + H - 1 of that
        ``width`` x ``height`` image: an H x W image, each pixel bit for bit the whole render's. A tile
        server or a chunked array takes windows; ``region`` is another image, with its own pixel grid.
        """
        arguments = _image_arguments(width, height, type, region, samples, node, threads, window)
        pixels, kind = self._native.render(arguments)
        image = np.asarray(pixels).view(Image)
        image.output_type = kind
        _send_images_whole()
        return image

    def sample_positions(self, width=None, height=None, type=None, region=None, samples=None, *, window=None):
        """Where ``render`` with the same arguments samples: an array of height x width x N^2 x 3
        positions (N the sub-samples along a pixel's side), each pixel's sub-samples row of its grid by
        row, from the top left, as the render takes them. The render sums a pixel's values in that
        order and divides once by N^2; with one sample, ``scene.eval(positions[:, :, 0])`` is the render
        to the bit."""
        arguments = _image_arguments(width, height, type, region, samples, window=window)
        return np.asarray(self._native.sample_positions(arguments))

    def save_image(self, path, image=None, *, depth=None, linear=False, threads=None, **render):
        """Writes a PNG or OpenEXR file (by the extension of ``path``) as ``vantrel render`` writes it,
        with the same encoders: of ``image`` (an array as ``render`` returns, (H, W) or (H, W, C) of 1,
        3 or 4 channels), or else rendered straight into the file with the arguments of ``render``
        (``save_image("globe.exr", width=2048, type="double")``, or a dict of them in place of the
        image), row band by row band, so that the image is never held whole. A PNG is clamped to 0..1 and
        has ``depth`` 8 (default) or 16 bits a channel; a colour's red, green and blue go through sRGB's
        transfer function and the file is tagged sRGB, other types are written as data, and
        ``linear=True`` writes the values as they are, tagged as linear light. The type of ``image`` is
        its ``output_type`` (whose channels it must have), or for a plain array double (1 channel), color
        (3) or colora (4). An OpenEXR file holds 32-bit floats, linear. The file replaces its target only
        once complete, as ``vantrel render -o`` writes it: a symbolic link is written through, the link
        kept. Ctrl-C stops the render and leaves the target as it was.
        """
        if isinstance(image, dict):
            image, render = None, {**image, **render}
        unknown = set(render) - set(_RENDER_ARGUMENTS)
        if unknown:
            raise TypeError(f"save_image() got unexpected arguments {sorted(unknown)}")
        if image is not None and render:
            raise TypeError("save_image() takes an image or the arguments of a render, not both")
        path = _arguments.path("path", path)
        pixels = None
        if image is not None:
            pixels = np.ascontiguousarray(_arguments.image("image", image))
            if pixels.ndim == 2:
                pixels = pixels[:, :, np.newaxis]
            render["type"] = _type_of(image, pixels.shape[-1] if pixels.ndim else 0)
        arguments = _image_arguments(threads=threads, **render)
        self._native.save(path, pixels, arguments, depth, _arguments.flag("linear", linear))

    def render_part(self, part, parts, format="png", *, depth=None, linear=False, threads=None, **render):
        """Part ``part`` of ``parts`` of the image ``save_image`` would write as a ``format`` file ("png"
        or "exr"), with the arguments of ``render`` (``type`` by default the scene's ``output_type``)
        and ``depth`` and ``linear`` as ``save_image`` takes them: the bytes of the part file ``vantrel
        render --part PART/PARTS -o NAME.FORMAT.part`` writes (the rows floor((PART - 1) H / PARTS) to
        floor(PART H / PARTS) of the H rows). ``vantrel join`` and ``PartJoiner`` join the parts into
        the image, byte for byte the file of the whole render; parts of the same scene (its JSON with
        the settings made), module and arguments join, whichever process or program rendered them. The
        interpreter's lock is released while it renders; Ctrl-C stops it between rows.
        """
        unknown = set(render) - set(_RENDER_ARGUMENTS)
        if unknown:
            raise TypeError(f"render_part() got unexpected arguments {sorted(unknown)}")
        arguments = _image_arguments(threads=threads, **render)
        return self._native.render_part(arguments, format, depth, _arguments.flag("linear", linear), part, parts)

    def to_dict(self):
        """The scene in the scene format, with the settings made by ``set``."""
        return json.loads(self._native.json())

    @property
    def domain(self):
        """The scene's domain: {"kind": "plane", "min": (x0, y0), "max": (x1, y1)} or {"kind": "sphere"}."""
        return self._native.domain()


def _unpickled_scene(text, name, file, paths, versions, builds):
    """A scene pickled by ``Scene.__reduce__``: its JSON built again by the modules at ``paths``, refused
    when they are not the build it was made with."""
    module = _module_at("module", paths)
    for path, version, build, found_version, found_build in zip(paths, versions, builds, module.versions,
                                                                module.builds):
        if (version, build) != (found_version, found_build):
            _arguments.refuse("module", f"the build the scene was pickled with at {path}: version {version}, "
                              f"SHA-256 {build[:16]}", None,
                              f"version {found_version}, SHA-256 {found_build[:16]}")
    return Scene._made(_vantrel.Scene.parse(module._native, text, name), module, name, file)


class PartJoiner:
    """Joins the parts of one render into its image file, as ``vantrel join`` does: the bytes of each
    part file (from ``Scene.render_part``, or files of ``vantrel render --part``) given to ``add`` in
    order of their numbers, from 1, then ``finish``. The image (a PNG or OpenEXR file by the extension
    of ``path``) is written as the parts come, so only the part being added is held, and is byte for
    byte the file the whole render writes.

    It is written to a pending file in the folder of ``path`` (of the file it leads to, for a symbolic
    link, which stays), which takes the place of that file only when ``finish`` has every part. A part that is refused (not a part file, damaged, of another
    render, out of turn) raises InputError with ``vantrel join``'s message and removes the pending file,
    as does ``abort``; the target stays as it was. As a context manager, it finishes when the block
    ends normally and aborts when it raises::

        with vantrel.PartJoiner("globe.png") as joiner:
            for k in range(1, 5):
                joiner.add(scene.render_part(k, 4, width=1024))
    """

    def __init__(self, path):
        named = _arguments.path("path", path)
        self.path = os.fsdecode(named)
        self._native = _vantrel.PartJoiner(named)
        self._added = 0

    def add(self, part, name=None):
        """Adds the next part, the bytes of its part file; ``name`` is what messages call it (by
        default "parts[I]", I counting the parts added from 0)."""
        name = f"parts[{self._added}]" if name is None else name
        if not isinstance(part, bytes):
            try:
                part = memoryview(part).tobytes()
            except TypeError:
                _arguments.refuse("part", "the bytes of a part file", part)
        self._added += 1
        self._native.add(part, name)

    def finish(self):
        """Completes the image once every part is added and puts it in place of ``path``; raises
        InputError naming the part missing otherwise."""
        self._native.finish()

    def abort(self):
        """Removes the pending file: the target stays as it was."""
        self._native.abort()

    def __enter__(self):
        return self

    def __exit__(self, kind, value, traceback):
        if kind is None:
            self.finish()
        else:
            self.abort()
        return False
