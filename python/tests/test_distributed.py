"""vantrel.distributed.render on a real LocalCluster of two worker processes, against `vantrel render`;
with a worker killed while it renders a part, once (survived) or every time (the render fails); scenes
sent to workers to evaluate, and images sent back."""

import os
import signal

import pytest
from distributed import Client, KilledWorker, LocalCluster, WorkerPlugin

import vantrel.distributed
from conftest import example, run_vantrel, same_bits


class KillWhileRendering(WorkerPlugin):
    """Kills the worker process as it starts to render part `part` of a render: once (the first worker
    to do so leaves its process id in `marker`), or every time."""

    name = "kill-while-rendering"

    def __init__(self, part, marker, once):
        self.part, self.marker, self.once = part, marker, once

    def transition(self, key, start, finish, **kwargs):
        if finish != "executing" or not str(key).startswith("vantrel-part-"):
            return
        if int(str(key).rsplit("-", 1)[1]) != self.part:
            return
        try:
            with open(self.marker, "x" if self.once else "a") as file:
                file.write(f"{os.getpid()}\n")
        except FileExistsError:
            return
        os.kill(os.getpid(), signal.SIGKILL)


@pytest.fixture(scope="module")
def client(tmp_path_factory):
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                      local_directory=tmp_path_factory.mktemp("workers")) as cluster, Client(cluster) as connected:
        yield connected


# Each case: the scene, the image's extension, the arguments of the render, the parts (None: the
# default), and a worker killed as it renders part 3: never, once or every time. The parts asked for at
# a time (the window) are the default, eight, but for the OpenEXR image, which has them one by one.
RENDERS = [("globe-cells", "png", {"width": 256, "linear": True}, None, None),
           ("leapfrog-sphere", "exr", {"width": 96, "type": "double", "window": 1}, 5, None),
           ("leapfrog-fractal", "png", {"width": 128, "samples": 2, "depth": 16}, 6, "once"),
           ("globe-cells", "png", {"width": 128, "height": 100, "region": (-90, -45, 90, 45)}, 4, "always")]


def vantrel_options(arguments):
    """The options of vantrel render that give the render the arguments describe."""
    size = str(arguments["width"]) + (f"x{arguments['height']}" if "height" in arguments else "")
    options = ["--size", size, "--samples", str(arguments.get("samples", 1))]
    if "type" in arguments:  # else the scene's output_type, for both
        options += ["--type", arguments["type"]]
    if arguments.get("linear"):
        options.append("--linear")
    if "depth" in arguments:
        options += ["--depth", str(arguments["depth"])]
    if "region" in arguments:
        options += ["--region", ",".join(str(x) for x in arguments["region"])]
    return options


@pytest.mark.parametrize("name, extension, arguments, parts, kill", RENDERS)
def test_the_cluster_renders_what_vantrel_renders(tmp_path, client, name, extension, arguments, parts, kill):
    target = tmp_path / f"out.{extension}"
    target.write_bytes(b"as it was")
    marker = tmp_path / "killed"
    if kill:
        client.register_worker_plugin(KillWhileRendering(3, str(marker), kill == "once"))
    try:
        if kill == "always":
            with pytest.raises(KilledWorker):
                vantrel.distributed.render(example(name), target, client=client, parts=parts, **arguments)
            assert target.read_bytes() == b"as it was"
            assert sorted(path.name for path in tmp_path.iterdir()) == ["killed", target.name]
            return
        done = vantrel.distributed.render(example(name), target, client=client, parts=parts, **arguments)
    finally:
        if kill:
            client.unregister_worker_plugin(KillWhileRendering.name)
    expected = tmp_path / f"vantrel.{extension}"
    rendered = run_vantrel("render", example(name), "-o", str(expected), *vantrel_options(arguments))
    assert rendered.returncode == 0, rendered.stderr
    assert target.read_bytes() == expected.read_bytes()
    assert done["parts"] == (parts or done["parts"]) and done["height"] == arguments["width"] // 2
    if kill == "once":
        killed = int(marker.read_text())
        assert killed not in client.run(os.getpid).values()  # that worker did die, and was replaced
    assert sorted(path.name for path in tmp_path.iterdir() if path.name.startswith(".")) == []


def rendered(name, kind):
    """A task: the scene `name` rendered as `kind` on the worker, 24x12."""
    return vantrel.Scene.load(example(name)).render(24, 12, kind)


# Each case: the scene and the type of an image a worker renders and sends back. Dask sends a plain
# array as its bare buffer; an Image keeps its output_type, so it is written as the type it is.
@pytest.mark.parametrize("name, kind", [("distorted-lattice", "vec3"), ("distorted-lattice", "vec4"),
                                        ("leapfrog-fractal", "double")])
def test_an_image_from_a_worker_keeps_its_type(tmp_path, client, name, kind):
    image = client.submit(rendered, name, kind, pure=False).result()
    assert isinstance(image, vantrel.Image) and image.output_type == kind
    vantrel.Scene.load(example(name)).save_image(tmp_path / "worker.png", image)
    said = run_vantrel("render", example(name), "-o", str(tmp_path / "vantrel.png"), "--size", "24x12", "--type", kind)
    assert said.returncode == 0, said.stderr
    assert (tmp_path / "worker.png").read_bytes() == (tmp_path / "vantrel.png").read_bytes()


# Each case: the scene, its settings and the type a worker evaluates it in. The scene goes by pickle,
# as its JSON with the settings made and its modules' paths and builds.
EVALS = [("globe-cells", {"lattice.Subdivision": 3}, "vec4"), ("leapfrog-fractal", {}, "double")]


@pytest.mark.parametrize("name, settings, kind", EVALS)
def test_a_worker_evaluates_a_scene_sent_to_it(client, points, name, settings, kind):
    scene = vantrel.Scene.load(example(name))
    for key, value in settings.items():
        scene.set(key, value)
    remote = client.submit(scene.eval, points, kind).result()
    assert same_bits(remote, scene.eval(points, kind))
    assert client.submit(os.getpid, pure=False).result() != os.getpid()


# Each case: a bad argument of render, and the argument its InputError names, before any part is
# rendered or any file made: a NUL in a path would end it at the system's calls.
BAD = [({"window": 0}, "window"), ({"client": None}, "client"), ({"retries": -1}, "retries"),
       ({"linear": "yes"}, "linear"), ({"output": "victim.txt\0.png"}, "output_path"),
       ({"scene": example("globe-cells") + "\0.txt"}, "scene_path")]


@pytest.mark.parametrize("arguments, argument", BAD, ids=[argument for _, argument in BAD])
def test_bad_arguments_are_named(tmp_path, client, arguments, argument):
    given = {"client": client, **arguments}
    scene = given.pop("scene", example("globe-cells"))
    output = str(tmp_path / given.pop("output", "out.png"))
    with pytest.raises(vantrel.InputError) as raised:
        vantrel.distributed.render(scene, output, 64, **given)
    assert raised.value.source == argument and str(raised.value).startswith(argument + ": expected ")
    assert list(tmp_path.iterdir()) == []
