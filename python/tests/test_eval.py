"""Scene.eval against `vantrel eval`, to the bit, in every output type; set and node= against --set and
--node; the shapes of the results, into out= and as float32; the listing against `vantrel list --json`;
a scene's repr, and its copy by pickle."""

import json
import os
import pickle

import numpy as np
import pytest

import vantrel
from conftest import EXAMPLES, example, run_vantrel, same_bits, vantrel_eval

SCENES = sorted(name[:-5] for name in os.listdir(EXAMPLES) if name.endswith(".json"))
TYPES = ["string", "colora", "color", "quaternion", "vec4", "vec3", "vec2", "double", "int"]

# Each case: the scene, the type, the node (None: the output), the settings, the threads. Every scene in
# the types compare-eval.sh compares across platforms, then every type, node= and set on one graph.
CASES = ([(name, kind, None, {}, None) for name in SCENES for kind in ("double", "vec3", "color", "int")] +
         [("distorted-lattice", kind, None, {}, None) for kind in TYPES] +
         [("globe-cells", "vec4", "lattice", {}, 1),
          ("globe-cells", "color", None, {"lattice.Subdivision": 3, "paint.Weights": [1, 1, 0, 0]}, 2),
          ("leapfrog-sphere", "double", "fractal", {"fractal.Iterations": 7, "fractal.Radius": 0.2}, 1)])


@pytest.mark.parametrize("name, kind, node, settings, threads", CASES)
def test_eval_is_vantrel_eval(points, name, kind, node, settings, threads):
    scene = vantrel.Scene.load(example(name))
    options = ["--type", kind] + (["--node", node] if node else [])
    for key, value in settings.items():
        scene.set(key, value)
        options += ["--set", f"{key}={json.dumps(value)}"]
    values = scene.eval(points, kind, node=node, threads=threads)
    expected = vantrel_eval(example(name), points, *options)
    if kind == "string":
        assert list(values) == [" ".join(words) for words in expected]
    elif kind == "int":
        assert values.dtype == np.int32
        assert np.array_equal(values, [int(words[0]) for words in expected])
    else:
        components = np.array([[float(word) for word in words] for words in expected])
        assert same_bits(values.reshape(len(points), -1), components)


# The type's components and numpy's type for each.
SHAPES = {"string": ((), object), "colora": ((4,), np.float64), "color": ((3,), np.float64),
          "quaternion": ((4,), np.float64), "vec4": ((4,), np.float64), "vec3": ((3,), np.float64),
          "vec2": ((2,), np.float64), "double": ((), np.float64), "int": ((), np.int32)}


@pytest.mark.parametrize("kind", TYPES)
def test_result_shapes(points, kind):
    scene = vantrel.Scene.load(example("globe-cells"))
    components, dtype = SHAPES[kind]
    grid = points[:24].reshape(2, 3, 4, 3)
    values = scene.eval(grid, kind)
    assert values.shape == (2, 3, 4) + components and values.dtype == dtype
    flat = scene.eval(points[:24], kind)
    assert np.array_equal(values.reshape(flat.shape), flat)
    one = scene.eval(points[5], kind)
    assert np.array_equal(np.asarray(one), flat[5]) and np.shape(one) == components


def test_threads_give_the_same_values(points):
    scene = vantrel.Scene.load(example("leapfrog-sphere"))
    assert same_bits(scene.eval(points, "vec4", threads=1), scene.eval(points, "vec4", threads=3))


def test_a_dict_is_its_file():
    with open(example("hex-lattice-plane")) as file:
        description = json.load(file)
    scene = vantrel.Scene(description)
    scene.set("lattice.Subdivision", 4)
    description["nodes"][0]["params"]["Subdivision"] = 4
    assert scene.to_dict() == description
    grid = np.random.default_rng(3).uniform(-2, 2, (500, 3))
    assert same_bits(scene.eval(grid, "double"), vantrel.Scene(description).eval(grid, "double"))


def test_node_types_are_vantrel_list():
    module = vantrel.load_module()
    listed = run_vantrel(*[word for path in module.paths for word in ("--module", path)], "list", "--json")
    assert listed.returncode == 0, listed.stderr
    assert vantrel.node_types() == json.loads(listed.stdout)
    here = os.path.dirname(vantrel.__file__)
    assert module.paths == [os.path.join(here, vantrel.MODULE_FILE), os.path.join(here, vantrel.NODES_FILE)]


def test_the_product_alone_refuses_the_hosts_nodes():
    product = vantrel.load_module().paths[0]
    remap = {"format": "vantrel-scene/1", "output": "r", "nodes": [{"id": "r", "type": "Remap"}]}
    assert vantrel.Scene(remap).eval([0.0, 0.0, 0.0], "double") == 0.0
    with pytest.raises(vantrel.InputError, match="expected a node type of the loaded modules"):
        vantrel.Scene(remap, module=product)
    assert vantrel.Scene(remap, module=[product, vantrel.load_module().paths[1]]).eval([0, 0, 0], "int") == 0


# Each case: the type, the shape of the positions (18,200 of them cross the bounded scratch that
# rounds to float32), the dtype of the result, and whether it is given as out= or asked for by dtype=.
RESULTS = [("color", (2600,), np.float32, False), ("color", (2600,), np.float32, True),
           ("vec4", (7, 2600), np.float32, True), ("double", (7, 2600), np.float32, False),
           ("double", (2600,), np.float64, True), ("vec2", (2, 1300), np.float64, True),
           ("quaternion", (2600,), np.float64, False), ("int", (2600,), np.int32, True),
           ("double", (), np.float32, False), ("colora", (), np.float64, True)]


@pytest.mark.parametrize("kind, lead, dtype, into", RESULTS)
def test_out_and_dtype_hold_the_rounded_values(points, kind, lead, dtype, into):
    scene = vantrel.Scene.load(example("leapfrog-sphere"))
    where = np.tile(points, (8, 1))[:int(np.prod(lead))].reshape(lead + (3,))
    expected = np.asarray(scene.eval(where, kind))
    if into:
        out = np.full(expected.shape, 7, dtype)
        assert scene.eval(where, kind, out=out) is out
        values = out
    else:
        values = scene.eval(where, kind, dtype=dtype)
    assert np.shape(values) == expected.shape and np.asarray(values).dtype == dtype
    # float32: each double rounded to the nearest float32, as numpy rounds it
    assert np.array_equal(np.asarray(values), expected.astype(dtype), equal_nan=True)
    if dtype != np.int32:
        assert np.array_equal(np.signbit(values), np.signbit(expected.astype(dtype)))


# Each case: how the scene is made, and what its repr says.
SCENE_MADE = [(lambda: vantrel.Scene.load(example("globe-cells")),
               f"<vantrel.Scene {example('globe-cells')!r}: 2 nodes, output paint (color), sphere domain>"),
              (lambda: settled(vantrel.Scene.load(example("hex-lattice-plane"))),
               f"<vantrel.Scene {example('hex-lattice-plane')!r}: 1 node, output lattice (double), plane domain>"),
              (lambda: vantrel.Scene(json.load(open(example("distorted-lattice"))), name="warped"),
               "<vantrel.Scene of a dict, 'warped': 4 nodes, output paint (color), plane domain>")]


def settled(scene):
    scene.set("lattice.Subdivision", 4)
    return scene


@pytest.mark.parametrize("make, said", SCENE_MADE)
def test_a_scene_says_what_it_is_and_pickles_whole(points, make, said):
    scene = make()
    assert repr(scene) == said
    copy = pickle.loads(pickle.dumps(scene))
    assert repr(copy) == said and copy.to_dict() == scene.to_dict()
    for kind in ("vec4", "double"):
        assert same_bits(copy.eval(points, kind), scene.eval(points, kind))
