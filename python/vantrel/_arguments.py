"""The arguments the package checks itself, before they reach the extension (which checks the rest):
each bad one, of a wrong value or a wrong type, raises InputError naming the argument, what it takes
and what it was given, as the extension's checks do."""

import json
import math
import numbers
import os

import numpy as np

from . import _vantrel
from ._errors import InputError

#: Deeper than any nesting the scene reader takes: a value nested deeper is cut there, and the reader
#: refuses its nesting with its own message (a list that holds itself is no longer followed forever).
_DEEPEST = 64


def refuse(argument, expected, value, found=None):
    """Raises InputError: the argument ``argument`` expected ``expected``, not ``value`` (or what
    ``found`` says of it)."""
    found = _vantrel.shown(value) if found is None else found
    raise InputError(f"{argument}: expected {expected}, not {found}", "bad-input", argument, expected=expected,
                     found=found)


def path(argument, value):
    """The bytes of the file ``value`` names (a str, bytes or os.PathLike), as the extension takes it. A
    NUL character is refused, as ``open`` refuses it: the system would end the name there, and
    ``victim\\0.png`` would write ``victim``."""
    try:
        named = os.fsencode(os.fspath(value))
    except TypeError:
        refuse(argument, "the path of a file: a str, bytes or os.PathLike", value)
    if b"\0" in named:
        refuse(argument, "the path of a file, without a NUL character", value)
    return named


def flag(argument, value):
    """``value`` when it is True or False (Python's or numpy's)."""
    if not isinstance(value, (bool, np.bool_)):
        refuse(argument, "True or False", value)
    return bool(value)


def whole(argument, value, least):
    """``value`` when it is a whole number (an int or numpy integer, not a bool) of at least ``least``."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Integral) or value < least:
        refuse(argument, f"a whole number of at least {least}", value)
    return int(value)


def reals(argument, value, expected):
    """``value`` as an array of float64; a value that holds something else than real numbers (text,
    complex numbers, lists of different lengths) is refused as not ``expected``."""
    try:
        if not np.iscomplexobj(value):
            return np.asarray(value, dtype=np.float64)
    except (TypeError, ValueError):
        pass
    refuse(argument, expected, value, f"an array of {value.dtype}" if isinstance(value, np.ndarray) else None)


#: The levels of the integer arrays an image may be given as: each value is taken over the dtype's
#: largest, so that 255 in uint8 is 1.0.
_LEVELS = {np.dtype(np.uint8): 255.0, np.dtype(np.uint16): 65535.0}


def image(argument, value):
    """An image as an array of float64: reals as they are, uint8 and uint16 levels over 255 and 65535.
    Another integer dtype (signed, 32 or 64 bits) or bools are refused, as no levels a file holds."""
    expected = "an image: an array of height x width x channels real numbers, or of uint8 or uint16 levels"
    dtype = getattr(value, "dtype", None)
    if isinstance(dtype, np.dtype) and dtype.kind in "biu":
        if dtype not in _LEVELS:
            refuse(argument, expected, value, f"an array of {dtype}")
        return np.asarray(value, dtype=np.float64) / _LEVELS[dtype]
    return reals(argument, value, expected)


#: The components of each numeric output type's values in eval's result, and the dtypes its array may
#: have, the first the one the extension makes.
_REALS = (np.dtype(np.float64), np.dtype(np.float32))
_LAYOUTS = {"colora": ((4,), _REALS), "color": ((3,), _REALS), "quaternion": ((4,), _REALS),
            "vec4": ((4,), _REALS), "vec3": ((3,), _REALS), "vec2": ((2,), _REALS), "double": ((), _REALS),
            "int": ((), (np.dtype(np.int32),))}


def result(type, lead, out, dtype):
    """The array eval stores the values of ``type`` at positions of shape ``lead`` into: ``out``,
    checked, or a new one of ``dtype``; None where the extension makes the result (of its own dtype, or
    of str), or where ``type`` names no type, which it refuses."""
    if type == "string":
        for argument, given in (("out", out), ("dtype", dtype)):
            if given is not None:
                refuse(argument, "None for the type string, whose values are str", given)
    if not isinstance(type, str) or type not in _LAYOUTS:
        return None
    components, dtypes = _LAYOUTS[type]
    names = " or ".join(f"numpy.{each.name}" for each in dtypes)
    shape = tuple(lead) + components
    if out is None:
        try:
            chosen = dtypes[0] if dtype is None else np.dtype(dtype)
        except TypeError:
            chosen = None
        if chosen is None or chosen not in dtypes:  # None: a dtype compares equal to None as to float64
            refuse("dtype", f"{names} for the type {type}", dtype)
        return None if chosen == dtypes[0] else np.empty(shape, chosen)
    if dtype is not None:
        refuse("dtype", "None when out is given, whose dtype the values take", dtype)
    expected = f"a writable C-contiguous array of {names}, shaped {shape}"
    found = None
    if not isinstance(out, np.ndarray):
        found = _vantrel.shown(out)
    elif out.dtype not in dtypes:
        found = f"an array of {out.dtype}"
    elif out.shape != shape:
        found = f"one shaped {out.shape}"
    elif not out.flags.c_contiguous:
        found = "one that is not C-contiguous"
    elif not out.flags.writeable:
        found = "one that is read-only"
    if found is not None:
        refuse("out", expected, out, found)
    return out


def scene_json(argument, value):
    """``value`` as JSON in the scene format: a real that is not finite as "nan", "inf" or "-inf" (JSON
    has no numbers for them), numpy's arrays and numbers as lists and numbers. What JSON cannot hold (a
    dict of keys that are not str, a complex number, another object) is refused."""
    def spelled(item, depth):
        if depth > _DEEPEST:
            return []
        if isinstance(item, np.ndarray):
            return spelled(item.tolist(), depth)
        if isinstance(item, np.generic):
            return spelled(item.item(), depth)
        if isinstance(item, float) and not math.isfinite(item):
            return "nan" if math.isnan(item) else ("inf" if item > 0 else "-inf")
        if isinstance(item, dict) and all(isinstance(key, str) for key in item):
            return {key: spelled(each, depth + 1) for key, each in item.items()}
        if isinstance(item, (list, tuple)):
            return [spelled(each, depth + 1) for each in item]
        if item is None or isinstance(item, (str, int, float)):
            return item
        refuse(argument, "a value of JSON: a dict of str keys, a list, a str, a number, True, False or None",
               item)
    return json.dumps(spelled(value, 0), allow_nan=False)
