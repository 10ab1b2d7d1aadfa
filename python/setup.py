"""The package's wheel, from the folder the build made: pyproject.toml says what it holds, this what
setuptools cannot see. The extension is built already, so the wheel is of the interpreter and platform
it was built for, not pure Python; and setuptools' own files (build/, vantrel.egg-info) go to a
temporary folder, so that pip leaves the built folder as it was."""

import atexit
import shutil
import tempfile

from setuptools import setup
from setuptools.dist import Distribution


class BuiltExtension(Distribution):
    """A distribution that holds a compiled extension, though setuptools builds none."""

    def has_ext_modules(self):
        return True


scratch = tempfile.mkdtemp(prefix="vantrel-setup-")
atexit.register(shutil.rmtree, scratch, ignore_errors=True)
setup(distclass=BuiltExtension,
      options={"build": {"build_base": f"{scratch}/build"}, "egg_info": {"egg_base": scratch}})
