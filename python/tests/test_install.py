"""The package installed into a virtual environment of Debian's interpreter as docs/python.md says,
offline: by pip from the built folder (a copy that needs nothing of the build tree), from the wheel pip
makes of it, or by a .pth file naming it. None of them changes the built folder."""

import os
import subprocess
import sys
import sysconfig

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


def files(folder):
    """Every file and folder under `folder`, with its size and time of change."""
    return {os.path.join(parent, name): (os.lstat(os.path.join(parent, name)).st_size,
                                         os.lstat(os.path.join(parent, name)).st_mtime_ns)
            for parent, folders, names in os.walk(folder) for name in folders + names}


def wheel(python, tmp_path):
    """The wheel pip makes of the built folder: tagged for this interpreter and platform, as the
    extension's name says it was built (_vantrel.cpython-311-x86_64-linux-gnu.so: cp311, linux_x86_64)."""
    subprocess.run([python, "-m", "pip", "wheel", "--quiet", "--no-deps", "--no-index", "--no-build-isolation",
                    "--wheel-dir", str(tmp_path / "wheels"), BUILT], check=True)
    (made,) = os.listdir(tmp_path / "wheels")
    assert os.path.isfile(os.path.join(BUILT, "vantrel", "_vantrel" + sysconfig.get_config_var("EXT_SUFFIX")))
    version = f"cp{sys.version_info.major}{sys.version_info.minor}"
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    assert made == f"vantrel-{vantrel.__version__}-{version}-{version}-{platform}.whl"
    return str(tmp_path / "wheels" / made)


@pytest.mark.parametrize("method", ["pip", "wheel", "pth"])
def test_installed_package_works(tmp_path, method):
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True)
    python = str(venv / "bin" / "python")
    if method in ("pip", "wheel"):
        before = files(BUILT)
        source = BUILT if method == "pip" else wheel(python, tmp_path)
        subprocess.run([python, "-m", "pip", "install", "--quiet", "--no-index", "--no-build-isolation", source],
                       check=True)
        assert files(BUILT) == before  # pip wrote no build/ and no vantrel.egg-info there
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
