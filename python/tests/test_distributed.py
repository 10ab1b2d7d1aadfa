"""vantrel.distributed.render on a real LocalCluster of two worker processes, against `vantrel render`;
with a worker killed while it renders a part, once (survived) or every time (the render fails, the
parts that came kept); its client killed and run again (only the parts not kept rendered); bad
arguments refused before the scheduler is given any task; scenes sent to workers to evaluate, and
images sent back."""

import json
import os
import signal
import subprocess
import sys
import time

import pytest
from distributed import Client, KilledWorker, LocalCluster, SchedulerPlugin, WorkerPlugin

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


class TaskLog(SchedulerPlugin):
    """Keeps the number of every part the scheduler was given to render, in order."""

    name = "vantrel-task-log"

    def __init__(self):
        self.parts = []

    def transition(self, key, start, finish, *args, **kwargs):
        if start == "released" and finish == "waiting" and str(key).startswith("vantrel-part-"):
            self.parts.append(int(str(key).rsplit("-", 1)[1]))


def logged_parts(dask_scheduler, clear=False):
    """On the scheduler: the parts TaskLog kept (and forgets them, when `clear`)."""
    log = dask_scheduler.plugins[TaskLog.name]
    parts = list(log.parts)
    if clear:
        log.parts.clear()
    return parts


def parts_held(dask_scheduler):
    """On the scheduler: how many tasks of parts it holds."""
    return sum(str(key).startswith("vantrel-part-") for key in dask_scheduler.tasks)


def submitted_parts(client):
    """The parts the scheduler was given since this was last asked, once it has forgotten their tasks."""
    deadline = time.monotonic() + 60
    while client.run_on_scheduler(parts_held) and time.monotonic() < deadline:
        time.sleep(0.05)
    return client.run_on_scheduler(logged_parts, clear=True)


@pytest.fixture(scope="module")
def client(tmp_path_factory):
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                      local_directory=tmp_path_factory.mktemp("workers")) as cluster, Client(cluster) as connected:
        connected.register_scheduler_plugin(TaskLog())
        yield connected


def given(name, form):
    """The scene `name` as render takes it: its file's "path", the "dict" of its JSON, or a Scene with
    the settings `form` (a dict) made."""
    if form == "path":
        return example(name)
    if form == "dict":
        with open(example(name)) as file:
            return json.load(file)
    scene = vantrel.Scene.load(example(name))
    for key, value in form.items():
        scene.set(key, value)
    return scene


# Each case: the scene, how it is given, the image's extension, the arguments of the render, the parts
# (None: the default), and a worker killed as it renders part 3: never, once or every time. The parts
# asked for ahead are the default, eight, but for the OpenEXR image, which has them one by one.
RENDERS = [("globe-cells", "path", "png", {"width": 256, "linear": True}, None, None),
           ("leapfrog-sphere", "dict", "exr", {"width": 96, "type": "double", "ahead": 1}, 5, None),
           ("globe-cells", {"lattice.Subdivision": 3}, "png", {"width": 64, "node": "lattice", "type": "vec3"}, 3,
            None),
           ("leapfrog-fractal", "path", "png", {"width": 128, "samples": 2, "depth": 16}, 6, "once"),
           ("globe-cells", "path", "png", {"width": 128, "height": 100, "region": (-90, -45, 90, 45)}, 4,
            "always"),
           ("lattice-pebble", "path", "png", {"width": 96}, 3, None)]


def vantrel_options(form, arguments):
    """The options of vantrel render that give the render the scene's form and the arguments describe."""
    size = str(arguments["width"]) + (f"x{arguments['height']}" if "height" in arguments else "")
    options = ["--size", size, "--samples", str(arguments.get("samples", 1))]
    for key, value in (form.items() if isinstance(form, dict) else []):
        options += ["--set", f"{key}={value}"]
    for name in ("type", "node", "depth"):  # else the scene's, for both
        if name in arguments:
            options += [f"--{name}", str(arguments[name])]
    if arguments.get("linear"):
        options.append("--linear")
    if "region" in arguments:
        options += ["--region", ",".join(str(x) for x in arguments["region"])]
    return options


def vantrel_file(path, name, form, arguments):
    """The bytes of the file `vantrel render` writes at `path`, of the scene and the arguments."""
    done = run_vantrel("render", example(name), "-o", str(path), *vantrel_options(form, arguments))
    assert done.returncode == 0, done.stderr
    return path.read_bytes()


@pytest.mark.parametrize("name, form, extension, arguments, parts, kill", RENDERS)
def test_the_cluster_renders_what_vantrel_renders(tmp_path, client, name, form, extension, arguments, parts, kill):
    target = tmp_path / f"out.{extension}"
    target.write_bytes(b"as it was")
    marker = tmp_path / "killed"
    if kill:
        client.register_worker_plugin(KillWhileRendering(3, str(marker), kill == "once"))
    try:
        if kill == "always":
            with pytest.raises(KilledWorker):
                vantrel.distributed.render(given(name, form), target, client=client, parts=parts, **arguments)
            assert target.read_bytes() == b"as it was"
            assert sorted(path.name for path in tmp_path.iterdir()) == ["killed", target.name, "out.png.parts"]
            # The parts that came are kept whole, for a render run again; the one that never came is not.
            kept = {path.name for path in (tmp_path / "out.png.parts").iterdir()}
            assert "3-of-4.png.part" not in kept and kept <= {f"{k}-of-4.png.part" for k in (1, 2, 4)}
            return
        done = vantrel.distributed.render(given(name, form), target, client=client, parts=parts, **arguments)
    finally:
        if kill:
            client.unregister_worker_plugin(KillWhileRendering.name)
    assert target.read_bytes() == vantrel_file(tmp_path / f"vantrel.{extension}", name, form, arguments)
    assert done["parts"] == (parts or done["parts"]) and done["rendered"] == done["parts"]
    square = vantrel.Scene.load(example(name)).domain["kind"] == "mesh"  # a model's texture
    assert done["height"] == arguments["width"] // (1 if square else 2)
    if kill == "once":
        killed = int(marker.read_text())
        assert killed not in client.run(os.getpid).values()  # that worker did die, and was replaced
    assert sorted(path.name for path in tmp_path.iterdir() if path.name not in ("killed", "vantrel." + extension)) \
        == [target.name]  # nothing left beside it: no pending file, no parts


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


def test_a_worker_refuses_modules_of_another_build(client):
    text, name, _, paths, versions, builds = vantrel.Scene.load(example("globe-cells")).__reduce__()[1]
    scene = (text, name, tuple(paths), tuple(versions), ("0" * 64,) + tuple(builds[1:]))
    future = client.submit(vantrel.distributed._render_part, scene, {"width": 8}, "png", None, False, 1, 1,
                           pure=False)
    with pytest.raises(vantrel.InputError, match="^module: expected the build the scene was pickled with at "):
        future.result()
    future.release()


# Each case: a bad argument of render, and how its InputError begins: naming the argument (or the file
# at fault), before any task is sent or any file made (a NUL in a path would end it at the system's calls).
BAD = [({"ahead": 0}, "ahead: expected "), ({"client": None}, "client: expected "),
       ({"retries": -1}, "retries: expected "), ({"linear": "yes"}, "linear: expected "),
       ({"progress": 1}, "progress: expected "), ({"threads": 0}, "threads: expected "),
       ({"threads": 1.5}, "threads: expected "), ({"samples": 0}, "samples: expected "),
       ({"type": "string"}, "type: "), ({"region": (1, 2)}, "region: expected "),
       ({"parts": 33}, "parts: expected "), ({"parts": 0}, "parts: expected "), ({"depth": 12}, "depth: expected "),
       ({"width": 0}, "width: expected "), ({"node": "nope"}, example("globe-cells") + " (with --node nope)"),
       ({"output": "victim.txt\0.png"}, "output_path: expected "), ({"output": "out.tiff"}, "{tmp}/out.tiff: expected "),
       ({"scene": example("globe-cells") + "\0.txt"}, "scene: expected "), ({"scene": 5}, "scene: expected "),
       ({"scene": {"nodes": []}}, "scene: ")]


@pytest.mark.parametrize("arguments, begins", BAD, ids=[repr(arguments)[1:-1][-32:] for arguments, _ in BAD])
def test_bad_arguments_are_named_before_any_task(tmp_path, client, arguments, begins):
    given = {"client": client, **arguments}
    scene = given.pop("scene", example("globe-cells"))
    output = str(tmp_path / given.pop("output", "out.png"))
    submitted_parts(client)
    with pytest.raises(vantrel.InputError) as raised:
        vantrel.distributed.render(scene, output, given.pop("width", 64), **given)
    assert str(raised.value).startswith(begins.format(tmp=tmp_path))
    assert list(tmp_path.iterdir()) == [] and submitted_parts(client) == []


# The client of a render killed (SIGKILL) as it renames its fourth part into the folder, the part
# written whole under its pending name: what a killed client leaves.
KILLED_CLIENT = """
import os, signal, sys
from distributed import Client
import vantrel.distributed
replace, renamed = os.replace, []  # the parts renamed into the folder
def replace_then_die(source, target):
    if str(target).endswith(".part"):
        renamed.append(target)
        if len(renamed) == 4:
            os.kill(os.getpid(), signal.SIGKILL)
    replace(source, target)
os.replace = replace_then_die
with Client(sys.argv[1]) as client:
    vantrel.distributed.render(sys.argv[2], sys.argv[3], 128, client=client, parts=8, ahead=2)
"""


def test_a_render_run_again_renders_only_the_parts_not_kept(tmp_path, client):
    target, folder = tmp_path / "out.png", tmp_path / "out.png.parts"
    scene = example("leapfrog-fractal")
    killed = subprocess.run([sys.executable, "-c", KILLED_CLIENT, client.scheduler.address, scene, str(target)],
                            capture_output=True, text=True)
    assert killed.returncode == -signal.SIGKILL, killed.stderr
    kept = sorted(int(path.name.split("-")[0]) for path in folder.iterdir() if not path.name.startswith("."))
    assert len(kept) == 3 and len(list(folder.glob(".*.pending"))) == 1 and not target.exists()
    submitted_parts(client)
    # A kept part of another render (two samples a pixel) is not taken for this one's.
    other = vantrel.Scene.load(scene).render_part(kept[0], 8, width=128, samples=2)
    (folder / f"{kept[0]}-of-8.png.part").write_bytes(other)
    done = vantrel.distributed.render(scene, target, 128, client=client, parts=8)
    again = sorted(set(range(1, 9)) - set(kept[1:]))
    assert sorted(submitted_parts(client)) == again and done["rendered"] == len(again)
    assert target.read_bytes() == vantrel_file(tmp_path / "vantrel.png", "leapfrog-fractal", "path", {"width": 128})
    assert not folder.exists()
