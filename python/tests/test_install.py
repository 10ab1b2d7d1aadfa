"""The package installed into a virtual environment of Debian's interpreter as docs/python.md says,
offline: by pip from the built folder (a copy that needs nothing of the build tree), or by a .pth file
naming it."""

import os
import subprocess
import sys

import pytest

import vantrel
from conftest import example, vantrel_eval

BUILT = os.path.dirname(os.path.dirname(os.path.abspath(vantrel.__file__)))  # build/PRESET/python

# Run by the environment's interpreter, in another folder: a value, where the package is, and every
# file of the package's own that the process has mapped.
CHECK = """
import sys, vantrel
print(repr(float(vantrel.Scene.load(sys.argv[1]).eval([0.3, -0.2, 0.9], "double"))))
print(vantrel.__file__)
names = ("_vantrel", "libquib", "libvantrel", "VantrelFunctions", "QuibNodes")
mapped = {line.split()[-1] for line in open("/proc/self/maps") if any(name in line for name in names)}
print("\\n".join(sorted(mapped)))
"""


@pytest.mark.parametrize("method", ["pip", "pth"])
def test_installed_package_works(tmp_path, method):
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True)
    python = str(venv / "bin" / "python")
    if method == "pip":
        subprocess.run([python, "-m", "pip", "install", "--quiet", "--no-index", "--no-build-isolation", BUILT],
                       check=True)
        home = str(venv)
    else:
        site = subprocess.run([python, "-c", "import sysconfig; print(sysconfig.get_path('purelib'))"],
                              check=True, capture_output=True, text=True).stdout.strip()
        with open(os.path.join(site, "vantrel.pth"), "w") as file:
            file.write(BUILT + "\n")
        home = BUILT
    environment = {key: value for key, value in os.environ.items() if key not in ("PYTHONPATH", "VANTREL_MODULE")}
    ran = subprocess.run([python, "-c", CHECK, example("globe-cells")], cwd=tmp_path, env=environment,
                         check=True, capture_output=True, text=True)
    value, where, *mapped = ran.stdout.splitlines()
    assert float(value) == float(vantrel_eval(example("globe-cells"), [[0.3, -0.2, 0.9]], "--type", "double")[0][0])
    package = os.path.dirname(where)
    assert package.startswith(home) and len(mapped) == 6  # the extension, three libraries, two modules
    assert all(os.path.dirname(path) == package for path in mapped), mapped
