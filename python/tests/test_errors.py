"""Errors: the message, kind, JSON Pointer, line and column of `vantrel` for the same fault, as a
ValueError or RuntimeError by kind; and Ctrl-C, which stops an evaluation or a render between chunks."""

import json
import os
import pickle
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import vantrel
import vantrel.chunked
from conftest import example, run_vantrel

PLANE = example("hex-lattice-plane")
NODES = os.path.join(os.path.dirname(vantrel.__file__), vantrel.NODES_FILE)


def bad_scene(folder):
    """A scene file whose Subdivision is a string, and the line and column of its key."""
    with open(PLANE) as file:
        description = json.load(file)
    description["nodes"][0]["params"]["Subdivision"] = "many"
    text = json.dumps(description, indent=2)
    before = text[:text.index('"Subdivision"')]
    path = os.path.join(folder, "bad.json")
    with open(path, "w") as file:
        file.write(text)
    return path, (before.count("\n") + 1, len(before) - before.rfind("\n"))


# The part files the join cases take, by name: curve3's parts at 32x16, rendered by vantrel on first use;
# "cut2" is part 2 of 3 cut short.
PARTS = {"c1": ("1/3", "png", []), "c2": ("2/3", "png", []), "c3": ("3/3", "png", []),
         "four2": ("2/4", "png", []), "set2": ("2/3", "png", ["--set", "curves.In=[0.5, 0.5, 0]"]),
         "x1": ("1/2", "exr", []), "x2": ("2/2", "exr", [])}


def part_files(folder, names):
    """The paths of the part files `names` in `folder`, each made when it is not there yet."""
    paths = []
    for name in names:
        path = os.path.join(folder, name + (".exr.part" if name.startswith("x") else ".png.part"))
        if name == "cut2":
            with open(part_files(folder, ["c2"])[0], "rb") as file:
                whole = file.read()
            with open(path, "wb") as file:
                file.write(whole[:-7])
        elif name not in PARTS:
            path = example(name)
        elif not os.path.exists(path):
            part, _, options = PARTS[name]
            said = run_vantrel("render", example("curve3"), "--size", "32x16", "--part", part, "-o", path, *options)
            assert said.returncode == 0, said.stderr
        paths.append(path)
    return paths


def join_files(folder, output, names):
    """The part files `names` joined by the package's PartJoiner into `output`, each named by its path."""
    with vantrel.PartJoiner(os.path.join(folder, output)) as joiner:
        for path in part_files(folder, names):
            with open(path, "rb") as file:
                joiner.add(file.read(), path)


def join_command(folder, output, names):
    """`vantrel join` of the part files `names` into `output`."""
    return ["join", *part_files(folder, names), "-o", os.path.join(folder, output)]


# Each case of a set of parts that is not one whole render: the parts, in order of K, and the output.
JOINS = [("part missing", ["c1", "c3"], "a.png"), ("first part missing", ["c2", "c3"], "a.png"),
         ("last part missing", ["c1", "c2"], "a.png"), ("part twice", ["c1", "c2", "c2", "c3"], "a.png"),
         ("part of another render", ["c1", "set2", "c3"], "a.png"), ("another count", ["c1", "four2"], "a.png"),
         ("not a part file", ["c1", "curve3"], "a.png"), ("part cut short", ["c1", "cut2", "c3"], "a.png"),
         ("parts of another format", ["x1", "x2"], "a.png")]

# Each case: what the package is asked, what vantrel is asked, the class, the kind, the code and the pointer.
CASES = [
    ("bad file", lambda tmp: vantrel.Scene.load(bad_scene(tmp)[0]), lambda tmp: ["eval", bad_scene(tmp)[0]],
     vantrel.InputError, "bad-input", "wrong-type", "/nodes/0/params/Subdivision"),
    ("bad setting", lambda tmp: vantrel.Scene.load(PLANE).set("lattice.Subdivision", "many"),
     lambda tmp: ["eval", PLANE, "--set", 'lattice.Subdivision="many"'],
     vantrel.InputError, "bad-input", "wrong-type", "/nodes/0/params/Subdivision"),
    ("setting of no node", lambda tmp: vantrel.Scene.load(PLANE).set("paint.Radius", [1, 2]),
     lambda tmp: ["eval", PLANE, "--set", "paint.Radius=[1, 2]"], vantrel.InputError, "bad-input", "unknown-node", None),
    ("no such node", lambda tmp: vantrel.Scene.load(PLANE).eval([0, 0, 0], node="paint"),
     lambda tmp: ["eval", PLANE, "--node", "paint"], vantrel.InputError, "bad-input", "unknown-node", "/output"),
    ("no such file", lambda tmp: vantrel.Scene.load(os.path.join(tmp, "none.json")),
     lambda tmp: ["eval", os.path.join(tmp, "none.json")], vantrel.InputError, "bad-input", "bad-value", None),
    ("not a module", lambda tmp: vantrel.load_module(PLANE), lambda tmp: ["--module", PLANE, "list"],
     vantrel.InputError, "bad-module", "bad-module", None),
    ("one module twice", lambda tmp: vantrel.load_module([NODES, NODES]),
     lambda tmp: ["--module", NODES, "--module", NODES, "list"], vantrel.InputError, "bad-module", "bad-module", None),
    ("unwritable image", lambda tmp: vantrel.Scene.load(PLANE).save_image(os.path.join(tmp, "no", "a.png")),
     lambda tmp: ["render", PLANE, "-o", os.path.join(tmp, "no", "a.png")],
     vantrel.FailureError, "failure", "failure", None),
] + [(what, lambda tmp, names=names, output=output: join_files(tmp, output, names),
      lambda tmp, names=names, output=output: join_command(tmp, output, names), vantrel.InputError, "bad-input",
      "bad-value", None)
     for what, names, output in JOINS]


@pytest.mark.parametrize("what, call, command, error_class, kind, code, pointer", CASES,
                         ids=[c[0] for c in CASES])
def test_errors_are_vantrels(tmp_path, what, call, command, error_class, kind, code, pointer):
    with pytest.raises(error_class) as raised:
        call(str(tmp_path))
    error = raised.value
    said = run_vantrel(*command(str(tmp_path)))
    assert said.returncode == (1 if kind == "failure" else 2)
    assert "vantrel: " + str(error) == said.stderr.strip()
    assert isinstance(error, ValueError if error_class is vantrel.InputError else RuntimeError)
    assert (error.kind, error.code, error.pointer) == (kind, code, pointer)
    if what == "bad file":
        assert (error.line, error.column) == bad_scene(str(tmp_path))[1]
        assert (error.expected, error.found) == ("a whole number within -2147483648 .. 2147483647, or a link",
                                                 '"many"')
    copy = pickle.loads(pickle.dumps(error))
    assert (type(copy), str(copy), copy.code, copy.pointer, copy.line) == (type(error), str(error), error.code,
                                                                           error.pointer, error.line)


def test_a_failed_setting_leaves_the_scene():
    scene = vantrel.Scene.load(PLANE)
    before = scene.eval([0.3, 0.2, 0], "double")
    scene.set("lattice.Subdivision", 5)
    with pytest.raises(vantrel.InputError):
        scene.set("lattice.Subdivision", 0.5)
    assert scene.to_dict()["nodes"][0]["params"]["Subdivision"] == 5
    scene.set("lattice.Subdivision", 3)
    assert scene.eval([0.3, 0.2, 0], "double") == before


# A leapfrog fractal of ITERATIONS rounds a sample: at 20,000 a row of the image takes seconds, at
# 10,000,000 a sample takes about a second, so that a chunk of eval's 1024 positions would take many
# minutes and Ctrl-C must stop it between samples.
SLOW = """
import sys, numpy as np, vantrel
scene = vantrel.Scene.load(sys.argv[1])
scene.set("fractal.Iterations", int(sys.argv[3]))
scene.set("fractal.Radius", 0)
print("started", flush=True)
if sys.argv[2] == "save_image":
    scene.save_image(sys.argv[4], width=2048, type="double", threads=2)
else:
    scene.eval(np.random.default_rng(1).normal(size=(int(sys.argv[2]), 3)), "double", threads=2)
"""


# Each case: what the child works at (the positions eval takes, or save_image) and the iterations. The
# child must stop within a minute of the signal: the unfinished chunk alone would take ten.
@pytest.mark.parametrize("call, iterations", [("1000000", 20000), ("save_image", 20000),
                                              ("1000", 10**7), ("100000", 10**7)],
                         ids=["eval", "save_image", "eval in one chunk", "eval on threads"])
def test_ctrl_c_stops_the_work(tmp_path, call, iterations):
    target = tmp_path / "slow.png"
    target.write_bytes(b"before")
    child = subprocess.Popen([sys.executable, "-c", SLOW, example("leapfrog-fractal"), call, str(iterations),
                              str(target)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "started\n"
        time.sleep(1)  # into the work; a signal before it would be taken all the same
        child.send_signal(signal.SIGINT)
        _, stderr = child.communicate(timeout=60)
    finally:
        child.kill()
    assert child.returncode != 0 and "KeyboardInterrupt" in stderr
    assert target.read_bytes() == b"before" and sorted(p.name for p in tmp_path.iterdir()) == ["slow.png"]


def join_parts(path, *parts, name=None):
    """Joins `parts` into `path`, each named `name`."""
    with vantrel.PartJoiner(path) as joiner:
        for part in parts:
            joiner.add(part, name)


# Each case: a call with a bad argument, and the argument its InputError names. A value of the wrong
# type is bad input as a wrong value is, not a TypeError. A NUL in a path would end it at the system's
# calls (victim.txt\0.png would write victim.txt); one in an id or a name would cut the message short.
ARGUMENTS = [
    (lambda scene, tmp: scene.render(0), "width"),
    (lambda scene, tmp: scene.render(8, 0), "height"),
    (lambda scene, tmp: scene.render(8, type="string"), "type"),
    (lambda scene, tmp: scene.save_image(os.path.join(tmp, "a.exr"), type="string"), "type"),
    (lambda scene, tmp: scene.eval([0, 0, 0], "colour"), "type"),
    (lambda scene, tmp: scene.render(8, samples=17), "samples"),
    (lambda scene, tmp: scene.render(8, type="int", samples=2), "samples"),
    (lambda scene, tmp: scene.render(8, region=(0, 0, 1)), "region"),
    (lambda scene, tmp: scene.render(8, region=(1, 0, 0, 1)), "region"),
    (lambda scene, tmp: scene.render(8, 4, window=(0, 0, 9, 4)), "window"),
    (lambda scene, tmp: scene.render(8, 4, window=(-1, 0, 2, 2)), "window"),
    (lambda scene, tmp: scene.render(8, 4, window=(0, 0, 0, 2)), "window"),
    (lambda scene, tmp: scene.render(8, 4, window=(0, 0, 2.5, 2)), "window"),
    (lambda scene, tmp: scene.sample_positions(8, 4, window=(0, 0, 2)), "window"),
    (lambda scene, tmp: vantrel.chunked.array(scene, 8, dtype=np.int32), "dtype"),
    (lambda scene, tmp: vantrel.chunked.array(scene, 8, chunks="rows"), "chunks"),
    (lambda scene, tmp: vantrel.chunked.array(scene, 8, 4, chunks=((1, 2), (8,))), "chunks"),
    (lambda scene, tmp: scene.eval([0, 0, 0], threads=1025), "threads"),
    (lambda scene, tmp: scene.eval([[0, 0]]), "points"),
    (lambda scene, tmp: scene.set("Subdivision", 3), "key"),
    (lambda scene, tmp: scene.save_image(os.path.join(tmp, "a.exr"), depth=8), "depth"),
    (lambda scene, tmp: scene.save_image(os.path.join(tmp, "a.png"), depth=12), "depth"),
    (lambda scene, tmp: scene.save_image(os.path.join(tmp, "a.png"), np.zeros((4, 4, 2))), "image"),
    (lambda scene, tmp: vantrel._vantrel.encode_png(np.zeros((4, 4)), "color"), "image"),
    (lambda scene, tmp: scene.save_image(os.path.join(tmp, "a.png"), scene.render(4, type="vec4")[..., :3]),
     "image"),
    (lambda scene, tmp: scene.save_image(os.path.join(tmp, "victim.txt\0.png"), width=8), "path"),
    (lambda scene, tmp: scene.save_image(os.path.join(tmp, "victim.txt\0.png"), scene.render(8)), "path"),
    (lambda scene, tmp: join_parts(os.path.join(tmp, "victim.txt\0.png"), scene.render_part(1, 2, width=8),
                                   scene.render_part(2, 2, width=8)), "path"),
    (lambda scene, tmp: vantrel.Scene.load(PLANE + "\0.txt"), "path"),
    (lambda scene, tmp: vantrel.load_module(PLANE + "\0.so"), "path"),
    (lambda scene, tmp: scene.eval([0, 0, 0], node="lattice\0paint"), "node"),
    (lambda scene, tmp: scene.set("lattice\0paint.Subdivision", 3), "key"),
    (lambda scene, tmp: vantrel.Scene(scene.to_dict(), name="plane\0scene"), "name"),
    (lambda scene, tmp: join_parts(os.path.join(tmp, "a.png"), b"", name="part\0one"), "name"),
    (lambda scene, tmp: scene.render(2.5), "width"),
    (lambda scene, tmp: scene.render(2 ** 70), "width"),
    (lambda scene, tmp: scene.render(True), "width"),
    (lambda scene, tmp: scene.render(8, "4"), "height"),
    (lambda scene, tmp: scene.render(8, type=3), "type"),
    (lambda scene, tmp: scene.render(8, region="abcd"), "region"),
    (lambda scene, tmp: scene.render(8, samples=0), "samples"),
    (lambda scene, tmp: scene.render(8, samples="2"), "samples"),
    (lambda scene, tmp: scene.render(8, node=3), "node"),
    (lambda scene, tmp: scene.eval([0, 0, 0], threads="2"), "threads"),
    (lambda scene, tmp: scene.eval([[0, 0, "a"]]), "points"),
    (lambda scene, tmp: scene.eval(np.array([[0, 0, 1j]])), "points"),
    (lambda scene, tmp: scene.set(3, 3), "key"),
    (lambda scene, tmp: scene.set("lattice.Subdivision", {1: 2}), "value"),
    (lambda scene, tmp: vantrel.Scene(object()), "description"),
    (lambda scene, tmp: vantrel.Scene.load(None), "path"),
    (lambda scene, tmp: vantrel.Scene(scene.to_dict(), module=3), "module"),
    (lambda scene, tmp: scene.save_image(os.path.join(tmp, "a.png"), width=8, depth=0), "depth"),
    (lambda scene, tmp: scene.save_image(os.path.join(tmp, "a.png"), width=8, linear="no"), "linear"),
    (lambda scene, tmp: scene.save_image(os.path.join(tmp, "a.png"), np.zeros((4, 4, 3), complex)), "image"),
    (lambda scene, tmp: scene.render_part(1, 2.0), "parts"),
    (lambda scene, tmp: scene.render_part(1, 2, "gif"), "format"),
    (lambda scene, tmp: join_parts(os.path.join(tmp, "a.png"), 10 ** 9), "part"),
    (lambda scene, tmp: scene.eval(np.zeros((2, 3)), out=[0.0, 0.0]), "out"),
    (lambda scene, tmp: scene.eval(np.zeros((2, 3)), "color", out=np.zeros(2)), "out"),
    (lambda scene, tmp: scene.eval(np.zeros((2, 3)), "double", out=np.zeros(2, np.float16)), "out"),
    (lambda scene, tmp: scene.eval(np.zeros((2, 3)), "double", out=np.zeros(4)[::2]), "out"),
    (lambda scene, tmp: scene.eval(np.zeros((2, 3)), "double", out=read_only(np.zeros(2))), "out"),
    (lambda scene, tmp: scene.eval(np.zeros((2, 3)), "int", out=np.zeros(2)), "out"),
    (lambda scene, tmp: scene.eval(np.zeros((2, 3)), "string", out=np.zeros(2)), "out"),
    (lambda scene, tmp: scene._native.eval(np.zeros((2, 3)), "color", None, None, np.zeros(2)), "out"),
    (lambda scene, tmp: scene.eval(np.zeros((2, 3)), dtype=np.float16), "dtype"),
    (lambda scene, tmp: scene.eval(np.zeros((2, 3)), dtype="reals"), "dtype"),
    (lambda scene, tmp: scene.eval(np.zeros((2, 3)), "int", dtype=np.float32), "dtype"),
    (lambda scene, tmp: scene.eval(np.zeros((2, 3)), "double", out=np.zeros(2), dtype=np.float64), "dtype"),
    (lambda scene, tmp: scene.save_image(os.path.join(tmp, "a.png"), np.zeros((4, 4, 3), np.int8)), "image"),
    (lambda scene, tmp: scene.save_image(os.path.join(tmp, "a.png"), np.zeros((4, 4, 3), np.uint32)), "image"),
    (lambda scene, tmp: scene.save_image(os.path.join(tmp, "a.png"), np.zeros((4, 4, 3), np.int64)), "image"),
    (lambda scene, tmp: scene.save_image(os.path.join(tmp, "a.png"), np.zeros((4, 4, 3), bool)), "image"),
    (lambda scene, tmp: pickle.loads(pickle.dumps(scene).replace(built(), b"0" * 64)), "module"),
]


def read_only(array):
    array.flags.writeable = False
    return array


def built():
    """The SHA-256 of the file of the module in use, which a scene's pickle holds."""
    return vantrel.load_module().builds[0].encode()


def test_the_extension_names_its_arguments():
    """Every argument of the extension's calls has its name, in its signature and in its messages."""
    calls = [getattr(vantrel._vantrel, name) for name in dir(vantrel._vantrel) if not name.startswith("__")]
    calls += [getattr(call, name) for call in calls if isinstance(call, type) for name in vars(call)
              if not name.startswith("__") or name == "__init__"]
    documented = [call.__doc__ for call in calls if callable(call) and call.__doc__]
    assert len(documented) > 15 and not [doc for doc in documented if "arg0" in doc]


@pytest.mark.parametrize("call, argument", ARGUMENTS)
def test_bad_arguments_are_named(tmp_path, call, argument):
    with pytest.raises(vantrel.InputError) as raised:
        call(vantrel.Scene.load(PLANE), str(tmp_path))
    error = raised.value
    assert error.source == argument and str(error).startswith(argument + ": ")
    if error.expected:  # whole, whatever the value holds
        assert str(error) == f"{argument}: expected {error.expected}" + (f", not {error.found}" if error.found else "")
    assert list(tmp_path.iterdir()) == []
