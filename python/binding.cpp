// _vantrel, the extension of the Python package: the module loaded through its three exports as vantrel
// loads it, scenes built by the scene layer, values and images computed by the render library, images
// written by its encoders. vantrel/__init__.py gives users the interface and its documentation; this
// file only carries arrays, strings and errors across.

#include <pthread.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "python/arguments.h"
#include "python/package_scene.h"
#include "quib/error.h"
#include "scene/module_listing.h"
#include "scene/module_set.h"
#include "tools/cli/commands.h"
#include "tools/image/image_file.h"
#include "tools/image/output_file.h"
#include "tools/image/part_file.h"

namespace vantrel::python {
namespace {

using quib::Error;

/// Text of the extension's as a str: the bytes of a file name that are not UTF-8 come back as the str
/// that named them (os.fsdecode).
py::str Said(const std::string& text) {
    return py::reinterpret_steal<py::str>(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape"));
}

/// The image file that the parts of one render are joined into, as `vantrel join` writes it: through
/// a pending file in its folder, which takes its place only when `Finish` has every part in it. A
/// part that is refused, or a joiner dropped unfinished, removes the pending file and leaves the
/// target as it was; the joiner then takes no more. Calls from several Python threads take turns.
class PackageJoiner {
public:
    explicit PackageJoiner(std::string path) : path(std::move(path)) {
        const std::optional<ImageFormat> format = FormatFor(this->path);
        if (!format) {
            throw Error(Error::Kind::BadInput, "expected a file name ending in .png or .exr")
                .WithSource(this->path);
        }
        ImageRequest written;
        written.format = format;
        CheckedDepth(written, ArgumentFields(this->path));
        open = std::make_unique<Open>(this->path, *format);
    }

    /// Adds the next part, the bytes of its part file, `name` in messages.
    void Add(const py::bytes& part, const Text& named) {
        const std::string name =
            TextOf(named, "name", "a name for the part's messages, without a NUL character");
        char* data = nullptr;
        Py_ssize_t size = 0;
        PyBytes_AsStringAndSize(part.ptr(), &data, &size);
        py::gil_scoped_release unlocked;  // `part` stays alive in the caller's hands meanwhile
        std::lock_guard turn(mutex);
        Guarded([&](Open& file) {
            file.joiner.Add({reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)},
                            name);
            if (file.joiner.Format() != file.format) throw ImageOfAnotherFormat(*file.joiner.Format(), path);
        });
    }

    /// Completes the image and puts it in its place.
    void Finish() {
        py::gil_scoped_release unlocked;
        std::lock_guard turn(mutex);
        Guarded([](Open& file) {
            file.joiner.Finish();
            file.bytes.Close();
            file.pending.Commit();
        });
        open.reset();
    }

    /// Removes the pending file, leaving the target as it was.
    void Abort() {
        py::gil_scoped_release unlocked;
        std::lock_guard turn(mutex);
        open.reset();
    }

private:
    struct Open {
        Open(const std::string& path, ImageFormat format)
            : format(format),
              pending(path, PendingFile::Links::WriteThrough),
              bytes(pending.Path(), format == ImageFormat::Png ? "the PNG" : "the OpenEXR image"),
              joiner(bytes) {}
        ImageFormat format;
        PendingFile pending;
        OutputBytes bytes;
        PartJoiner joiner;
    };

    /// Runs `work` on the open file; an error ends it, named by the target when it names nothing.
    template <class Work>
    void Guarded(Work work) {
        if (!open) {
            throw Error(Error::Kind::BadInput, "the joiner is closed: it has finished or failed")
                .WithSource(path);
        }
        try {
            work(*open);
        } catch (const Error& error) {
            open.reset();
            if (!error.Source().empty()) throw;
            throw Error(error.GetKind(), error.Detail()).WithSource(path);
        } catch (...) {
            open.reset();
            throw;
        }
    }

    std::string path;
    std::mutex mutex;
    std::unique_ptr<Open> open;
};

/// The threads the package starts get vantrel's stacks: room for the longest chain of links a scene
/// may hold, whatever `ulimit -s` says. Only ever raised, never lowered.
void RaiseThreadStacks() {
    pthread_attr_t attributes;
    std::size_t size = 0;
    if (pthread_getattr_default_np(&attributes) != 0) return;
    if (pthread_attr_getstacksize(&attributes, &size) == 0 && size < threadStack &&
        pthread_attr_setstacksize(&attributes, threadStack) == 0)
        pthread_setattr_default_np(&attributes);
    pthread_attr_destroy(&attributes);
}

}  // namespace
}  // namespace vantrel::python

PYBIND11_MODULE(_vantrel, extension) {
    using namespace vantrel::python;
    RaiseThreadStacks();
    // Every quib::Error becomes the package's exception of its kind (vantrel/_errors.py).
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const quib::Error& error) {
            const std::optional<std::string>& pointer = error.Pointer();
            py::object made = py::module_::import("vantrel._errors")
                                  .attr("from_native")(Said(error.what()), quib::KindName(error.GetKind()),
                                                       quib::CodeName(error.GetCode()), Said(error.Source()),
                                                       pointer ? py::object(Said(*pointer)) : py::none(),
                                                       Said(error.ExpectedText()), Said(error.Found()),
                                                       error.Line(), error.Column());
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(made.ptr())), made.ptr());
        }
    });

    // The modules loaded together, from a list of files. Files are named by their bytes, as
    // os.fsencode gives them.
    py::class_<vantrel::ModuleSet, std::shared_ptr<vantrel::ModuleSet>>(extension, "Modules")
        .def(py::init(&vantrel::ModuleSet::Load), py::arg("paths"))
        .def_property_readonly("paths",
                               [](const vantrel::ModuleSet& modules) {
                                   py::list paths;
                                   for (const std::string& path : modules.Paths())
                                       paths.append(Said(path));
                                   return paths;
                               })
        .def_property_readonly("versions", &vantrel::ModuleSet::Versions)
        .def("listing",
             [](const vantrel::ModuleSet& modules) { return vantrel::ListModule(modules).dump(); });

    py::class_<ImageArguments>(extension, "ImageArguments")
        .def(py::init([](std::optional<Whole> width, std::optional<Whole> height, std::optional<Text> type,
                         const py::object& region, const py::object& window, std::optional<Whole> samples,
                         std::optional<Text> node, std::optional<Whole> threads) {
                 return ImageArguments{std::move(width),   std::move(height),  std::move(type),
                                       RegionFrom(region), WindowFrom(window), std::move(samples),
                                       std::move(node),    std::move(threads)};
             }),
             py::arg("width"), py::arg("height"), py::arg("type"), py::arg("region"), py::arg("window"),
             py::arg("samples"), py::arg("node"), py::arg("threads"));

    py::class_<PackageScene>(extension, "Scene")
        .def_static(
            "load",
            [](std::shared_ptr<vantrel::ModuleSet> module, const std::string& path) {
                return PackageScene::Load(std::move(module), path);
            },
            py::arg("module"), py::arg("path"))
        .def_static(
            "parse",
            [](std::shared_ptr<vantrel::ModuleSet> module, std::string text, const Text& name) {
                return PackageScene::Parse(std::move(module), std::move(text), name);
            },
            py::arg("module"), py::arg("text"), py::arg("name"))
        .def("set", &PackageScene::Set, py::arg("key"), py::arg("value"))
        .def("json", &PackageScene::Json)
        .def("domain", &PackageScene::Domain)
        .def("output_type", &PackageScene::OutputTypeOf)
        .def("samples", &PackageScene::SamplesOf)
        .def("eval", &PackageScene::Eval, py::arg("points"), py::arg("type"), py::arg("node"),
             py::arg("threads"), py::arg("out").noconvert())
        .def("render", &PackageScene::Render, py::arg("arguments"))
        .def("sample_positions", &PackageScene::SamplePositions, py::arg("arguments"))
        .def("planned", &PackageScene::Planned, py::arg("arguments"))
        .def("save", &PackageScene::Save, py::arg("path"), py::arg("pixels"), py::arg("arguments"),
             py::arg("depth"), py::arg("linear"))
        .def("check_part", &PackageScene::CheckPart, py::arg("arguments"), py::arg("format"),
             py::arg("depth"), py::arg("linear"), py::arg("parts"))
        .def("render_part", &PackageScene::RenderPart, py::arg("arguments"), py::arg("format"),
             py::arg("depth"), py::arg("linear"), py::arg("part"), py::arg("parts"));

    py::class_<PackageJoiner>(extension, "PartJoiner")
        .def(py::init<std::string>(), py::arg("path"))
        .def("add", &PackageJoiner::Add, py::arg("part"), py::arg("name"))
        .def("finish", &PackageJoiner::Finish)
        .def("abort", &PackageJoiner::Abort);

    extension.def("encode_png", &EncodePng, py::arg("pixels"), py::arg("type"));
    // How a message shows a value, for the arguments the package checks itself.
    extension.def(
        "shown", [](const py::object& value) { return Said(Shown(value)); }, py::arg("value"));
}
