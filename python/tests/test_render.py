"""Scene.render against `vantrel eval` at the pixel centres the render samples; save_image and the
image's own PNG against the bytes of `vantrel render`; images' reductions and images of levels."""

import json
import os
import pickle
import subprocess
import sys

import numpy as np
import pytest

import vantrel
from conftest import SOURCE, VANTREL, example, run_vantrel, same_bits, vantrel_eval

# The channels of each type's image, and which of the value's components they hold.
CHANNELS = {"colora": 4, "color": 3, "quaternion": 4, "vec4": 4, "vec3": 3, "vec2": 3, "double": 1, "int": 1}


def sampled_positions(name, width, height, region):
    """The positions a render of the scene `name` samples, one a pixel: a W Distortion added to the
    scene passes each on as the first three components of a vec4, so the render itself tells them."""
    with open(example(name)) as file:
        description = json.load(file)
    description["nodes"].append({"id": "where-it-samples", "type": "W Distortion",
                                 "params": {"Position": {"link": "@position"}}})
    scene = vantrel.Scene(description)
    return scene.render(width, height, "vec4", region, node="where-it-samples")[..., :3].reshape(-1, 3)


# Each case: the scene, the type, the size (None: from the domain), the region, the threads.
RENDERS = [("globe-cells", "color", (64, None), None, None),
           ("hex-lattice-plane", "double", (40, 33), (-1.5, -0.5, 2.5, 1), 1),
           ("leapfrog-fractal", "int", (32, None), None, 2),
           ("distorted-lattice", "colora", (30, 20), None, 3),
           ("w-distortion", "vec2", (25, None), None, None),
           ("leapfrog-sphere", "quaternion", (36, 24), (-90, 0, 0, 45), None)]


@pytest.mark.parametrize("name, kind, size, region, threads", RENDERS)
def test_render_is_vantrel_eval_at_pixel_centres(name, kind, size, region, threads):
    scene = vantrel.Scene.load(example(name))
    image = scene.render(*size, kind, region, threads=threads)
    height = size[1] or scene.render(size[0], None, "double", region).shape[0]
    assert isinstance(image, vantrel.Image) and image.shape == (height, size[0], CHANNELS[kind])
    where = sampled_positions(name, size[0], size[1], region)
    expected = np.array([[float(word) for word in words] for words in vantrel_eval(example(name), where,
                                                                                     "--type", kind)])
    if region and name.startswith("hex-lattice-plane"):  # the pixel centres of the rectangle (A, B)-(C, D)
        u, v = (np.arange(size[0]) + 0.5) / size[0], (np.arange(height) + 0.5) / height
        x, y = np.meshgrid(region[0] + u * (region[2] - region[0]), region[3] - v * (region[3] - region[1]))
        assert np.allclose(where, np.column_stack([x.ravel(), y.ravel(), np.zeros(x.size)]), rtol=0, atol=1e-15)
    if kind == "vec2":  # red and green, blue 0
        expected = np.column_stack([expected, np.zeros(len(expected))])
    assert same_bits(image.reshape(-1, CHANNELS[kind]), expected)


# Each case: the scene, the file's extension, and the options of vantrel render (a --depth and --linear
# only for a PNG). With no --type, both take the scene's output_type.
FILES = [("globe-cells", "png", ["--size", "96x48"]),
         ("globe-cells", "png", ["--size", "40x20", "--depth", "16", "--linear"]),
         ("hex-lattice-sphere", "png", ["--size", "40x20"]),
         ("leapfrog-fractal", "png", ["--size", "64", "--type", "double", "--samples", "3"]),
         ("hex-lattice-plane", "png", ["--size", "50x30", "--type", "vec2", "--depth", "16",
                                       "--region", "0,0,1,1"]),
         ("distorted-lattice", "png", ["--size", "40x40", "--type", "colora", "--node", "lattice"]),
         ("leapfrog-sphere", "exr", ["--size", "80", "--type", "double"]),
         ("distorted-lattice", "exr", ["--size", "33x17", "--type", "vec4", "--samples", "2"]),
         ("curve3", "exr", ["--size", "20x70", "--type", "color"])]


def render_arguments(options):
    """The arguments of render that the options of `vantrel render` give; and the --depth and --linear."""
    linear = "--linear" in options
    options = [option for option in options if option != "--linear"]
    named = dict(zip(options[::2], options[1::2]))
    width, _, height = named["--size"].partition("x")
    arguments = {"width": int(width), "height": int(height) if height else None,
                 "type": named.get("--type"), "samples": int(named["--samples"]) if "--samples" in named else None,
                 "node": named.get("--node")}
    if "--region" in named:
        arguments["region"] = [float(x) for x in named["--region"].split(",")]
    return arguments, int(named["--depth"]) if "--depth" in named else None, linear


@pytest.mark.parametrize("name, extension, options", FILES)
def test_save_image_writes_vantrel_render_bytes(tmp_path, name, extension, options):
    rendered = tmp_path / f"vantrel.{extension}"
    result = run_vantrel("render", example(name), "-o", str(rendered), *options)
    assert result.returncode == 0, result.stderr
    expected = rendered.read_bytes()
    scene = vantrel.Scene.load(example(name))
    arguments, depth, linear = render_arguments(options)
    image = scene.render(**arguments)
    scene.save_image(tmp_path / f"array.{extension}", image, depth=depth, linear=linear)
    scene.save_image(tmp_path / f"direct.{extension}", depth=depth, linear=linear, threads=2, **arguments)
    scene.save_image(tmp_path / f"dict.{extension}", arguments, depth=depth, linear=linear)
    for written in ("array", "direct", "dict"):
        assert (tmp_path / f"{written}.{extension}").read_bytes() == expected, written
    if extension == "png" and depth is None and not linear:
        assert image.to_png() == image._repr_png_() == expected
    assert sorted(path.name for path in tmp_path.iterdir() if path.name.startswith(".")) == []


def test_only_images_show_themselves():
    image = vantrel.Scene.load(example("globe-cells")).render(8, 4)
    assert image[:, :, :2]._repr_png_() is None and image[0]._repr_png_() is None
    assert image[:, :, :1]._repr_png_() is None  # a colour's red is no grey image
    assert image[1:3, 2:7]._repr_png_().startswith(b"\x89PNG")


# Each case: the type of an image, and the pickle protocol of its copy (as multiprocessing sends it).
# The copy keeps its output_type, so it is written as the type it is, not guessed from its channels.
COPIES = [("vec3", 2), ("vec3", 5), ("double", 4), ("vec4", 5), ("color", 3)]


@pytest.mark.parametrize("kind, protocol", COPIES)
def test_an_image_keeps_its_type_through_pickle(tmp_path, kind, protocol):
    scene = vantrel.Scene.load(example("distorted-lattice"))
    copy = pickle.loads(pickle.dumps(scene.render(24, 12, kind), protocol=protocol))
    assert isinstance(copy, vantrel.Image) and copy.output_type == kind
    scene.save_image(tmp_path / "copy.png", copy)
    rendered = run_vantrel("render", example("distorted-lattice"), "-o", str(tmp_path / "vantrel.png"),
                           "--size", "24x12", "--type", kind)
    assert rendered.returncode == 0, rendered.stderr
    assert (tmp_path / "copy.png").read_bytes() == (tmp_path / "vantrel.png").read_bytes()


# Each case: a reduction of an image to one value, which is a plain number as of a plain array.
REDUCTIONS = [lambda image: image.mean(), lambda image: image.sum(), lambda image: image.max(), np.min, np.std,
              np.median, lambda image: image[..., 0].mean(), np.linalg.norm, lambda image: image.var()]


@pytest.mark.parametrize("reduce", REDUCTIONS)
def test_reductions_are_plain_numbers(reduce):
    image = vantrel.Scene.load(example("globe-cells")).render(16, 8)
    value = reduce(image)
    assert type(value) is np.float64 and value == reduce(np.asarray(image))
    assert type(image[1:3]) is vantrel.Image and image[1:3].output_type == "color"


# Each case: the dtype of an image of levels, its largest level, the image's channels and the file's
# extension and depth. Levels are written as the reals level / largest.
LEVELS = [(np.uint8, 255, 3, "png", None), (np.uint8, 255, 1, "png", None), (np.uint16, 65535, 4, "png", 16),
          (np.uint16, 65535, 3, "exr", None)]


@pytest.mark.parametrize("dtype, largest, channels, extension, depth", LEVELS)
def test_levels_are_written_as_reals_over_their_largest(tmp_path, dtype, largest, channels, extension, depth):
    scene = vantrel.Scene.load(example("globe-cells"))
    levels = np.random.default_rng(5).integers(0, largest, (6, 10, channels), endpoint=True).astype(dtype)
    levels[0, 0], levels[0, 1] = 0, largest
    scene.save_image(tmp_path / f"levels.{extension}", levels, depth=depth)
    scene.save_image(tmp_path / f"reals.{extension}", levels / largest, depth=depth)
    assert (tmp_path / f"levels.{extension}").read_bytes() == (tmp_path / f"reals.{extension}").read_bytes()


def test_the_example_renders_what_vantrel_renders(tmp_path):
    script = os.path.join(SOURCE, "python", "examples", "subdivisions.py")
    ran = subprocess.run([sys.executable, script, str(tmp_path)], check=True, capture_output=True, text=True)
    assert [line.split(" ")[0] for line in ran.stdout.splitlines()] == ["1", "2", "4"]
    rendered = run_vantrel("render", example("globe-cells"), "-o", str(tmp_path / "vantrel.png"), "--size", "256",
                           "--set", "lattice.Subdivision=2")
    assert rendered.returncode == 0, rendered.stderr
    assert (tmp_path / "globe-2.png").read_bytes() == (tmp_path / "vantrel.png").read_bytes()


# Each case: the scene, the image's extension, the options of vantrel render (without --type, the scene's
# output_type), its --set settings, the parts.
PARTS = [("globe-cells", "png", ["--size", "200x150", "--node", "lattice", "--type", "double"],
          ["lattice.Subdivision=2"], 3),
         ("leapfrog-fractal", "png", ["--size", "64x32", "--depth", "16", "--samples", "2"], [], 2),
         ("globe-cells", "png", ["--size", "64x48", "--linear"], [], 2),
         ("distorted-lattice", "exr", ["--size", "40x37", "--type", "colora"], [], 3)]


@pytest.mark.parametrize("name, extension, options, settings, parts", PARTS)
def test_render_part_is_vantrel_render_part(tmp_path, name, extension, options, settings, parts):
    scene = vantrel.Scene.load(example(name))
    for setting in settings:
        key, _, value = setting.partition("=")
        scene.set(key, json.loads(value))
    sets = [word for setting in settings for word in ("--set", setting)]
    arguments, depth, linear = render_arguments(options)
    whole = tmp_path / f"whole.{extension}"
    assert run_vantrel("render", example(name), "-o", str(whole), *options, *sets).returncode == 0
    with vantrel.PartJoiner(tmp_path / f"joined.{extension}") as joiner:
        for k in range(1, parts + 1):
            part = tmp_path / f"p{k}.{extension}.part"
            rendered = run_vantrel("render", example(name), "-o", str(part), *options, *sets, "--part",
                                   f"{k}/{parts}")
            assert rendered.returncode == 0, rendered.stderr
            made = scene.render_part(k, parts, extension, depth=depth, linear=linear, threads=k, **arguments)
            assert made == part.read_bytes(), k
            joiner.add(made)
    assert (tmp_path / f"joined.{extension}").read_bytes() == whole.read_bytes()


# Each case: the parts given to the joiner of a.png (K/N of the size WxH, in a format), and its message.
REFUSED = [(["1/3 256x128 png", "3/3 256x128 png"],
            "parts[1]: part 2 of 3 of its render is missing: the part after part 1 is part 3 (the parts join in order "
            "of K)"),
           (["1/3 256x128 png", "2/3 256x100 png"],
            "parts[1]: a part of another render than parts[0]: its size is [256,100], not [256,128]"),
           (["1/2 256x128 exr"], "a.png: the parts are of an OpenEXR image: expected an output file name ending in .exr"),
           (["1/2 256x128 png", "finish"], "parts[0]: part 2 of 2 of its render is missing: the last part is part 1")]


@pytest.mark.parametrize("given, message", REFUSED)
def test_a_refused_part_leaves_the_target(tmp_path, given, message):
    scene = vantrel.Scene.load(example("globe-cells"))
    target = tmp_path / "a.png"
    target.write_bytes(b"as it was")
    joiner = vantrel.PartJoiner(target)
    with pytest.raises(vantrel.InputError) as raised:
        for each in given:
            if each == "finish":
                joiner.finish()
                continue
            part, size, extension = each.split(" ")
            (k, n), (width, height) = map(int, part.split("/")), map(int, size.split("x"))
            joiner.add(scene.render_part(k, n, extension, width=width, height=height))
    assert str(raised.value).replace(f"{tmp_path}{os.sep}", "") == message
    assert sorted(path.name for path in tmp_path.iterdir()) == ["a.png"] and target.read_bytes() == b"as it was"
    with pytest.raises(vantrel.InputError, match="the joiner is closed"):
        joiner.add(scene.render_part(1, 2, width=256, height=128))


def test_the_scene_s_samples_are_the_default(tmp_path):
    """A scene's "samples" are what render and save_image take when given none, as vantrel render."""
    described = json.loads(open(example("leapfrog-fractal")).read())
    (tmp_path / "sampled.json").write_text(json.dumps({**described, "samples": 3}))
    result = run_vantrel("render", str(tmp_path / "sampled.json"), "-o", str(tmp_path / "vantrel.png"),
                         "--size", "40x20")
    assert result.returncode == 0, result.stderr
    scene = vantrel.Scene.load(tmp_path / "sampled.json")
    assert scene.samples == 3
    scene.save_image(tmp_path / "python.png", width=40, height=20)
    assert (tmp_path / "python.png").read_bytes() == (tmp_path / "vantrel.png").read_bytes()
    assert np.array_equal(scene.render(40, 20), scene.render(40, 20, samples=3))
    assert not np.array_equal(scene.render(40, 20), scene.render(40, 20, samples=1))


def write_image(writer, scene, target):
    """`scene` at 16x8 written to `target` by `writer`: save_image of an image, save_image rendering
    into the file, or a PartJoiner of two parts."""
    if writer == "save_image":
        scene.save_image(target, scene.render(16, 8))
    elif writer == "save_image rendered":
        scene.save_image(target, width=16, height=8)
    else:
        with vantrel.PartJoiner(target) as joiner:
            for k in (1, 2):
                joiner.add(scene.render_part(k, 2, width=16, height=8))


# Each case: a writer, the link written to, and the file that becomes the image (read from each link's
# folder), or None where vantrel render refuses the link. Each writer writes through a link as vantrel
# render -o does: the link stays, and the file it leads to takes the image and keeps its mode.
LINKS = [(writer, link, written) for writer in ("save_image", "save_image rendered", "PartJoiner")
         for link, written in (("link.png", "images/real.png"), ("chain.png", "images/real.png"),
                               ("new.png", "images/new.png"), ("loop.png", None))]


@pytest.mark.parametrize("writer, link, written", LINKS)
def test_writers_write_through_links(tmp_path, writer, link, written):
    (tmp_path / "images").mkdir()
    (tmp_path / "images" / "real.png").write_bytes(b"as it was")
    (tmp_path / "images" / "real.png").chmod(0o600)
    for name, leads_to in (("link.png", "images/real.png"), ("chain.png", "link.png"),
                           ("new.png", "images/new.png"), ("loop.png", "loop.png")):
        (tmp_path / name).symlink_to(leads_to)
    scene = vantrel.Scene.load(example("globe-cells"))
    command = ["render", example("globe-cells"), "--size", "16x8", "-o"]
    if written is None:
        with pytest.raises(vantrel.FailureError) as raised:
            write_image(writer, scene, tmp_path / link)
        said = run_vantrel(*command, str(tmp_path / link))
        assert said.returncode == 1 and said.stderr.strip() == "vantrel: " + str(raised.value)
    else:
        write_image(writer, scene, tmp_path / link)
        expected = run_vantrel(*command, str(tmp_path / "vantrel.png"))
        assert expected.returncode == 0, expected.stderr
        assert (tmp_path / written).read_bytes() == (tmp_path / "vantrel.png").read_bytes()
        assert (tmp_path / written).stat().st_mode & 0o777 == (0o600 if written.endswith("real.png") else
                                                               (tmp_path / "vantrel.png").stat().st_mode & 0o777)
    links = {name: os.readlink(tmp_path / name) for name in ("link.png", "chain.png", "new.png", "loop.png")}
    assert links == {"link.png": "images/real.png", "chain.png": "link.png", "new.png": "images/new.png",
                     "loop.png": "loop.png"}
    left = sorted(str(path.relative_to(tmp_path)) for path in tmp_path.rglob(".*"))
    assert left == []


def test_threads_default_to_the_cores_the_process_may_run_on(tmp_path):
    # Under a CPU set of one core (taskset, a batch scheduler's), the default is one thread, not the machine's.
    result = subprocess.run([VANTREL, "render", example("globe-cells"), "--size",
                             "16", "-o", str(tmp_path / "one.png")], capture_output=True, text=True,
                            preexec_fn=lambda: os.sched_setaffinity(0, {min(os.sched_getaffinity(0))}))
    assert result.returncode == 0, result.stderr
    assert result.stdout.endswith(" on 1 thread\n")
