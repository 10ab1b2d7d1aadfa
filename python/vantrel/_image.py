"""The package's images: numpy arrays that know the output type they were rendered as."""

import sys

import numpy as np

from . import _vantrel
from ._errors import InputError


class Image(np.ndarray):
    """A rendered image: a numpy array of height x width x channels float64 values (1 channel, grey, for
    double and int; 3, RGB, for color, vec3 and vec2 with blue 0; 4, RGBA, for colora, vec4 and
    quaternion), unclamped, as the nodes computed them, linear for a colour. ``output_type`` is the
    type it was rendered as, which says how ``save_image`` writes it; a copy keeps it, pickled or sent
    back from a Dask task. In Jupyter it shows itself as the 8-bit PNG ``save_image`` would write
    (clamped to 0..1, a colour sRGB-encoded)."""

    output_type = None

    def __array_finalize__(self, source):
        self.output_type = getattr(source, "output_type", None)

    def __reduce__(self):  # so that a copy in another process (multiprocessing, Dask) keeps the type
        rebuild, arguments, state = super().__reduce__()
        return rebuild, arguments, (state, self.output_type)

    def __setstate__(self, state):
        array_state, self.output_type = state
        super().__setstate__(array_state)

    def __array_wrap__(self, array, context=None, return_scalar=False):
        # A reduction to one value (image.mean(), np.max(image)) is a plain number, not an image.
        if array.ndim == 0:
            return array[()]
        return super().__array_wrap__(array, context)

    def to_png(self):
        """The bytes of the 8-bit PNG file ``save_image`` writes of the image by default (clamped to
        0..1, a colour sRGB-encoded and tagged so), by the same encoder: byte for byte the file
        ``vantrel render`` writes of the same render. Raises InputError when its channels are not its
        type's."""
        channels = self.shape[-1] if self.ndim else 0
        return _vantrel.encode_png(np.asarray(self), _type_of(self, channels))

    def _repr_png_(self):
        try:
            return self.to_png()
        except InputError:  # not an image of its type: numpy shows it
            return None


def _type_of(image, channels):
    """The type an image array holds: its ``output_type`` if it has one, else a colour if it has three
    or four channels, and a real if one."""
    return getattr(image, "output_type", None) or {1: "double", 4: "colora"}.get(channels, "color")


def _send_images_whole():
    """Dask sends a numpy array as its bare buffer, which would make an Image a plain array and lose its
    ``output_type``, so that a vec3 image would be written as a colour. Wherever distributed is loaded,
    an Image is declined by Dask's own serializer and goes by pickle, which keeps it (``__reduce__``).
    Called when the package is loaded and when it renders an image: a worker loads distributed first,
    and a client before it renders what it sends."""
    serialize = sys.modules.get("distributed.protocol.serialize")
    if serialize is not None:
        serialize.dask_serialize.register(Image)(_decline)


def _decline(image, context=None):
    raise NotImplementedError("an Image goes by pickle")  # Dask then takes its next serializer


_send_images_whole()

Image.__module__ = "vantrel"  # where users find it (and pickle finds it)
