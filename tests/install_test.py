"""`cmake --install` of the build into a new prefix, and the vantrel installed there run as a user runs
it: from PREFIX/bin, with nothing of the build tree, which it must not reach by a path either.

Run by CTest (tests/CMakeLists.txt), which gives CMAKE, READELF, VANTREL_BUILD_DIR, VANTREL (the build
tree's program) and VANTREL_SOURCE_DIR."""

import json
import os
import re
import subprocess
import urllib.request

import pytest

BUILD = os.environ["VANTREL_BUILD_DIR"]
BUILT = os.environ["VANTREL"]
SCENE = os.path.join(os.environ["VANTREL_SOURCE_DIR"], "examples", "hex-lattice-plane.json")
PAGE = os.path.join(os.path.dirname(BUILT), "editor")


@pytest.fixture(scope="module")
def prefix(tmp_path_factory):
    prefix = tmp_path_factory.mktemp("prefix").resolve()
    subprocess.run([os.environ["CMAKE"], "--install", BUILD, "--prefix", str(prefix)], check=True,
                   capture_output=True)
    return prefix


def modules(prefix, tmp_path):
    listing = json.loads(subprocess.run([prefix / "bin" / "vantrel", "list", "--json"], check=True,
                                        capture_output=True, text=True).stdout)
    found = [entry["module"] for entry in listing["modules"]]
    assert [os.path.basename(path) for path in found] == ["VantrelFunctions.so", "QuibNodes.so"]
    assert all(path.startswith(f"{prefix}/") for path in found), found


def render(prefix, tmp_path):
    for program, image in ((BUILT, "built.png"), (prefix / "bin" / "vantrel", "installed.png")):
        subprocess.run([program, "render", SCENE, "-o", tmp_path / image, "--size", "96x48"], check=True,
                       capture_output=True)
    assert (tmp_path / "installed.png").read_bytes() == (tmp_path / "built.png").read_bytes()


def serve(prefix, tmp_path):
    server = subprocess.Popen([prefix / "bin" / "vantrel", "serve", "--port", "0", SCENE], cwd=tmp_path,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        line = server.stdout.readline()  # nothing, should it end
        address = re.fullmatch(r"vantrel serve: open (http://[^/]+:[0-9]+)/\?token=\S+ in a browser\n", line)
        assert address, line or server.stderr.read()
        if not os.path.isfile(os.path.join(PAGE, "index.html")):
            pytest.skip("no page is built")
        # The page and the presets it reads beside its code, as the build made them.
        for path, built in (("/", "index.html"), ("/examples/presets/curves.json", "examples/presets/curves.json")):
            with urllib.request.urlopen(address[1] + path) as answer, open(os.path.join(PAGE, built), "rb") as file:
                assert answer.read() == file.read(), path
    finally:
        server.terminate()
        server.wait()


def runpaths(prefix, tmp_path):
    found = {}
    for file in (path for path in prefix.rglob("*") if path.is_file() and not path.is_symlink()):
        with open(file, "rb") as opened:
            if opened.read(4) != b"\x7fELF":
                continue
        dynamic = subprocess.run([os.environ["READELF"], "-d", file], check=True, capture_output=True,
                                 text=True).stdout
        found[file.name] = [entry for listed in re.findall(r"\((?:RUNPATH|RPATH)\).*\[(.*)\]", dynamic)
                            for entry in listed.split(":")]
    assert found["vantrel"] == ["$ORIGIN"] and found["vantrel-serve.so"] == ["$ORIGIN"]
    assert all(entry == "$ORIGIN" for entries in found.values() for entry in entries), found


@pytest.mark.parametrize("check", [modules, render, serve, runpaths], ids=lambda check: check.__name__)
def test_installed_vantrel(prefix, tmp_path, check):
    check(prefix, tmp_path)
