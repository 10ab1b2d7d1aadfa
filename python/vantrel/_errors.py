"""The errors of the package: one exception for every error of the module, the scenes and the renders,
with the parts of the message the command line prints."""

# The kind of error after which `vantrel` exits with status 1, a failure while working; after every
# other kind (bad input, a module that does not load) it exits with status 2.
_FAILURE_KIND = "failure"


class Error(Exception):
    """An error of vantrel: ``str(error)`` is the message ``vantrel`` prints after "vantrel: ".

    Its parts, each None where the message has none:

    - ``kind``: "bad-input", "bad-module", "not-found", "too-large" or "failure", as ``vantrel serve``
      names them;
    - ``code``: what went wrong, a name no change of the message's wording changes: for bad input
      "bad-value", "not-json", "duplicate", "missing", "wrong-type", "out-of-range", "not-increasing",
      "unknown-type", "unknown-member", "unknown-node" or "bad-link"; for the other kinds the kind's
      name (docs/vantrel.md lists what each means);
    - ``source``: the file, argument or option it is about (a scene changed by ``set`` is named
      "FILE (with --set ID.PARAM=VALUE)", as the command line names it);
    - ``pointer``: the JSON Pointer (RFC 6901) of the value at fault in the scene, "" for the whole;
    - ``expected`` and ``found``: what was expected there and what stood there instead, as quoted;
    - ``line`` and ``column``: where that value stands in the scene file's text, counted from 1.

    Bad input and a module that does not load are also ValueError (``InputError``); a failure while
    working, such as a file that cannot be written, also RuntimeError (``FailureError``).
    """

    def __init__(self, message, kind="failure", source=None, pointer=None, expected=None, found=None,
                 line=None, column=None, code=None):
        super().__init__(message)
        self.kind = kind
        self.code = code or ("bad-value" if kind == "bad-input" else kind)
        self.source = source
        self.pointer = pointer
        self.expected = expected
        self.found = found
        self.line = line
        self.column = column

    def __reduce__(self):  # so that an error pickles whole, to come back from another process
        return (type(self), (str(self), self.kind, self.source, self.pointer, self.expected, self.found,
                             self.line, self.column, self.code))


class InputError(Error, ValueError):
    """Bad input: a scene, a setting, an argument or a module that cannot be used as it stands."""


class FailureError(Error, RuntimeError):
    """A failure while working: an image that cannot be written."""


def from_native(message, kind, code, source, pointer, expected, found, line, column):
    """The exception for an error of the extension (called by it)."""
    error_class = FailureError if kind == _FAILURE_KIND else InputError
    return error_class(message, kind, source or None, pointer, expected or None, found or None,
                       line or None, column or None, code)


for _class in (Error, InputError, FailureError):
    _class.__module__ = "vantrel"  # where users find them (and pickle finds them)
