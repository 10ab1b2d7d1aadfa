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
