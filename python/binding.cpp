// _vantrel, the extension of the Python package: the module loaded through its three exports as vantrel
// loads it, scenes built by the scene layer, values and images computed by the render library, images
// written by its encoders. vantrel/__init__.py gives users the interface and its documentation; this
// file only carries arrays, strings and errors across.

#include <dlfcn.h>
#include <pthread.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "host/components.h"
#include "quib/error.h"
#include "quib/text.h"
#include "scene/module_listing.h"
#include "scene/scene.h"
#include "scene/scene_format.h"
#include "tools/cli/commands.h"
#include "tools/image/exr_file.h"
#include "tools/image/image_file.h"
#include "tools/image/output_file.h"
#include "tools/image/part_file.h"
#include "tools/image/png_encoder.h"
#include "tools/render/render_core.h"
#include "tools/render/sample_arrays.h"

namespace py = pybind11;

namespace vantrel {
namespace {

using quib::Error;
using Pixels = py::array_t<double, py::array::c_style | py::array::forcecast>;

/// Bad input in the argument `argument` of a call: expected `expected`, not `found`.
Error ArgumentError(const std::string& argument, std::string expected, std::string found = {}) {
    return std::move(Error::Expected(Error::Kind::BadInput, {}, std::move(expected), std::move(found))
                         .WithSource(argument));
}

OutputType TypeNamed(const std::string& name) {
    const std::optional<OutputType> type = OutputTypeNamed(name);
    if (!type) throw ArgumentError("type", "one of " + OutputTypeNames(", "), quib::Quote(name));
    return *type;
}

/// The type of an image: any but string.
OutputType ImageTypeNamed(const std::string& name) {
    const OutputType type = TypeNamed(name);
    if (type == OutputType::String)
        throw ArgumentError("type", "a numeric output type for an image", "\"string\"");
    return type;
}

/// Render threads: 1 to 1024, as --threads; none is one for each core.
int ThreadsOf(std::optional<int> threads) {
    if (!threads) return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (*threads < 1 || *threads > 1024)
        throw ArgumentError("threads", "a whole number from 1 to 1024", std::to_string(*threads));
    return *threads;
}

/// While the work runs without the interpreter's lock, a Ctrl-C (or another signal's handler that
/// raises) stops it: called on the calling thread a few times a second.
void CheckSignals() {
    py::gil_scoped_acquire interpreter;
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

/// The function `symbol` of the library `path`, loaded now and kept loaded.
void* LoadFunction(const std::string& path, const char* symbol) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* function = library != nullptr ? dlsym(library, symbol) : nullptr;
    if (function == nullptr) throw Error(Error::Kind::Failure, std::string("cannot load ") + dlerror());
    return function;
}

/// Refuses a file of `format` that `source` (the file, or the argument that named the format) asks
/// for and this build cannot write, and a `depth` (0 for the default) or `linear` that it cannot hold.
void CheckFormat(ImageFormat format, int depth, bool linear, const std::string& source) {
    if (format == ImageFormat::Exr && !VANTREL_OPENEXR)
        throw Error(Error::Kind::BadInput, "this build writes PNG only, not OpenEXR").WithSource(source);
    if (format == ImageFormat::Exr && depth != 0) {
        throw ArgumentError("depth", "no depth for an OpenEXR image, which always holds 32-bit floats",
                            std::to_string(depth));
    }
    if (format == ImageFormat::Exr && linear)
        throw ArgumentError("linear", "not for an OpenEXR image, which always holds linear values", "True");
    if (depth != 0 && depth != 8 && depth != 16)
        throw ArgumentError("depth", "8 or 16", std::to_string(depth));
}

std::string FormatName(ImageFormat format) {
    return format == ImageFormat::Png ? "a PNG" : "an OpenEXR image";
}

/// The channels of an image array, height x width x channels of 1, 3 or 4.
int ImageChannels(const Pixels& pixels) {
    const bool image = pixels.ndim() == 3 && pixels.shape(0) >= 1 && pixels.shape(1) >= 1 &&
                       (pixels.shape(2) == 1 || pixels.shape(2) == 3 || pixels.shape(2) == 4);
    if (!image) {
        throw ArgumentError("image", "an array of height x width x channels reals, of 1, 3 or 4 channels");
    }
    return static_cast<int>(pixels.shape(2));
}

/// What to render, as the arguments of `render` and `save_image` give it.
struct ImageArguments {
    int width = 512;
    std::optional<int> height;
    std::string type = "color";
    std::optional<std::vector<double>> region;  ///< A, B, C, D
    int samples = 1;
    std::optional<std::string> node;
    std::optional<int> threads;
};

/// A scene of the package: the document it was read from, the settings made since, and the scene they
/// build. A setting that does not build leaves it as it was. Evaluation runs on the scene as it was
/// when the call began, so that a `set` on another Python thread meanwhile does not pull it away.
class PackageScene {
public:
    PackageScene(Scene::ModulePointer module, std::shared_ptr<const JsonDocument> document, std::string name)
        : module(std::move(module)), document(std::move(document)), name(std::move(name)) {
        scene = std::make_shared<const Scene>(Scene::FromDocument(*this->document, this->name, this->module));
    }

    static PackageScene Load(Scene::ModulePointer module, const std::string& path) {
        return {std::move(module), std::make_shared<const JsonDocument>(ReadSceneFile(path)), path};
    }

    /// `text` is the JSON of a dict: it is read as a file is, but has no lines a user wrote, so its
    /// errors name none.
    static PackageScene Parse(Scene::ModulePointer module, std::string text, const std::string& name) {
        JsonDocument parsed = [&] {
            try {
                return JsonDocument::Parse(std::move(text), sceneNesting);
            } catch (Error& error) {
                throw std::move(error.InSource(name));
            }
        }();
        return {std::move(module), std::make_shared<const JsonDocument>(std::move(parsed.Value())), name};
    }

    /// The parameter named by `key`, "ID.PARAM", takes the value of the JSON text `value`, as `--set
    /// ID.PARAM=VALUE` gives it, in place of an earlier setting of the same parameter. The id is what
    /// comes before the last dot, so an id may hold dots.
    void Set(const std::string& key, const std::string& value) {
        const std::size_t dot = key.rfind('.');
        if (dot == std::string::npos || dot == 0 || dot + 1 == key.size()) {
            throw ArgumentError("key", "ID.PARAM, the id of a node and the name of its parameter",
                                quib::Quote(key));
        }
        const std::string node = key.substr(0, dot);
        const std::string param = key.substr(dot + 1);
        SceneEdits changed;
        for (const SceneEdits::Setting& setting : edits.settings) {
            if (setting.node != node || setting.param != param) changed.settings.push_back(setting);
        }
        changed.settings.push_back({node, param, value, "--set " + key + "=" + value});
        for (const SceneEdits::Setting& setting : changed.settings)
            changed.said += (changed.said.empty() ? "" : " ") + setting.said;
        auto built = std::make_shared<const Scene>(Scene::FromDocument(*document, name, module, changed));
        edits = std::move(changed);
        scene = std::move(built);
    }

    /// The scene's JSON with the settings made.
    quib::Json Described() const {
        quib::Json root = document->Value();
        edits.ApplyTo(root, name);
        return root;
    }
    std::string Json() const { return Described().dump(); }

    /// The scene's "output_type", or color.
    std::string OutputTypeOf() const {
        return std::string(OutputTypeName(scene->NamedType().value_or(OutputType::Color)));
    }

    /// The scene's "samples", or 1.
    int SamplesOf() const { return scene->NamedSamples().value_or(1); }

    py::dict Domain() const {
        const SampleDomain& domain = scene->Domain();
        py::dict described;
        described["kind"] = domain.kind == SampleDomain::Kind::Plane ? "plane" : "sphere";
        if (domain.kind == SampleDomain::Kind::Plane) {
            described["min"] = py::make_tuple(domain.min.x, domain.min.y);
            described["max"] = py::make_tuple(domain.max.x, domain.max.y);
        }
        return described;
    }

    /// The values of the node at the positions `points` (N x 3).
    py::object Eval(const Pixels& points, const std::string& typeName, const std::optional<std::string>& id,
                    std::optional<int> threadCount) const {
        if (points.ndim() != 2 || points.shape(1) != 3)
            throw ArgumentError("points", "an array of N positions x, y, z, shaped (N, 3)");
        const std::shared_ptr<const Scene> held = scene;
        Function& node = NodeOf(*held, id);
        const int threads = ThreadsOf(threadCount);
        const auto count = static_cast<std::size_t>(points.shape(0));
        const std::span<const double> xyz(points.data(), 3 * count);
        return VisitOutputType(TypeNamed(typeName), [&]<class T>(std::type_identity<T>) -> py::object {
            auto evaluate = [&](std::span<T> values) {
                py::gil_scoped_release unlocked;
                EvalAt(node, xyz, values, threads, CheckSignals);
            };
            if constexpr (std::is_same_v<T, double> || std::is_same_v<T, int>) {
                py::array_t<T> values(count);  // float64 or int32
                evaluate({values.mutable_data(), count});
                return values;
            } else {
                std::vector<T> values(count);
                evaluate(values);
                if constexpr (std::is_same_v<T, std::string>) {
                    py::list texts(count);
                    for (std::size_t i = 0; i < count; ++i)
                        texts[i] = py::str(values[i]);
                    return texts;
                } else {
                    constexpr auto components = static_cast<std::size_t>(host::componentCount<T>);
                    py::array_t<double> array({count, components});
                    double* out = array.mutable_data();
                    for (const T& value : values) {
                        for (const double component : host::ComponentsOf(value))
                            *out++ = component;
                    }
                    return array;
                }
            }
        });
    }

    /// The image the arguments describe, as an array of height x width x channels reals.
    Pixels Render(const ImageArguments& arguments) const {
        const Prepared image = Prepare(arguments, INT_MAX, INT_MAX, "an image in memory");
        Pixels pixels({image.height, image.width, ChannelsFor(image.type)});
        double* data = pixels.mutable_data();
        py::gil_scoped_release unlocked;
        ImageBuffer buffer(image.width, image.height, ChannelsFor(image.type), data);
        vantrel::Render(image.Request(), buffer);
        return pixels;
    }

    /// Writes `pixels` (as `Render` gives them, of the arguments' type), or else the image the arguments
    /// describe, to the PNG or OpenEXR file `path` as vantrel render writes it; `exrWriter` is the
    /// OpenEXR module's file.
    void Save(const std::string& path, const std::optional<Pixels>& pixels, const ImageArguments& arguments,
              int depth, bool linear, const std::string& exrWriter) const {
        const std::optional<ImageFormat> format = FormatFor(path);
        if (!format)
            throw Error(Error::Kind::BadInput, "expected a file name ending in .png or .exr")
                .WithSource(path);
        CheckFormat(*format, depth, linear, path);
        const int channels = pixels ? ImageChannels(*pixels) : ChannelsFor(ImageTypeNamed(arguments.type));
        const ImageLimits limits = LargestImage(*format, channels);
        const std::string formatName = FormatName(*format);
        std::optional<Prepared> image;
        if (!pixels) image = Prepare(arguments, limits.width, limits.height, formatName);
        const int width = pixels ? static_cast<int>(pixels->shape(1)) : image->width;
        const int height = pixels ? static_cast<int>(pixels->shape(0)) : image->height;
        if (pixels && (pixels->shape(1) > limits.width || pixels->shape(0) > limits.height)) {
            throw ArgumentError("image", "at most " + std::to_string(limits.width) + " x " +
                                             std::to_string(limits.height) + " pixels for " + formatName +
                                             " (" + limits.why + ")");
        }
        const int threads = ThreadsOf(arguments.threads);
        auto fill = [&](BandSink& sink) {
            if (!image) {
                EncodeImage(pixels->data(), sink);
                return true;
            }
            return vantrel::Render(image->Request(), sink);
        };
        py::gil_scoped_release unlocked;
        PendingFile file(path);
        try {
            if (*format == ImageFormat::Png) {
                OutputBytes bytes(file.Path(), "the PNG");
                PngEncoder png(width, height, channels, depth != 0 ? depth : 8,
                               LevelsFor(ImageTypeNamed(arguments.type), linear), BandsInFlight(threads),
                               [&](std::span<const std::uint8_t> piece) { bytes.Put(piece); });
                fill(png);
                bytes.Close();
            } else {
                auto* writeExr =
                    reinterpret_cast<ExrWriteFunction*>(LoadFunction(exrWriter, "VantrelWriteExr"));
                writeExr(width, height, channels, threads, fill, file.Path());
            }
        } catch (const Error& error) {
            if (!error.Source().empty()) throw;
            throw Error(error.GetKind(), error.Detail()).WithSource(path);
        }
        file.Commit();
    }

    /// The width, height and channels of the image the arguments describe, checked as `RenderPart`
    /// checks them (for `parts` None, all but the parts).
    std::tuple<int, int, int> CheckPart(const ImageArguments& arguments, const std::string& format, int depth,
                                        bool linear, std::optional<int> parts) const {
        const Prepared image = PreparePart(arguments, FormatNamed(format), depth, linear, parts);
        return {image.width, image.height, ChannelsFor(image.type)};
    }

    /// Part `part` of `parts` of the image the arguments describe, in a file of `format` ("png", "exr")
    /// of `depth` bits a channel (0 for 8, or for OpenEXR), its levels `linear` or not as `save_image`'s
    /// are: the bytes of the part file `vantrel render --part K/N [--linear]` writes, named by the
    /// scene's JSON with the settings made and the module's version.
    py::bytes RenderPart(const ImageArguments& arguments, const std::string& formatName, int depth,
                         bool linear, int part, int parts) const {
        const ImageFormat format = FormatNamed(formatName);
        const Prepared image = PreparePart(arguments, format, depth, linear, parts);
        if (part < 1 || part > parts)
            throw ArgumentError("part", "a whole number from 1 to " + std::to_string(parts),
                                std::to_string(part));
        // Named as `vantrel render --part --node ID` names it: the node is the scene's output.
        quib::Json named = Described();
        if (arguments.node && named.is_object()) named["output"] = *arguments.node;
        std::optional<std::string> bytes;
        {
            py::gil_scoped_release unlocked;
            bytes = vantrel::RenderPart({image.Request(), format, depth != 0 ? depth : 8,
                                         LevelsFor(image.type, linear), std::move(named),
                                         image.scene->Modules().Versions(), part, parts});
        }
        return py::bytes(*bytes);  // given no cancel flag, a render ends complete or throws
    }

private:
    /// A render, checked.
    struct Prepared {
        std::shared_ptr<const Scene> scene;  ///< held while it renders
        Function* node;
        SampleDomain domain;
        int width;
        int height;
        OutputType type;
        int samples;
        int threads;

        RenderRequest Request() const {
            return {*node,   domain,  width,
                    height,  type,    threads,
                    samples, nullptr, [](const RenderProgress&) { CheckSignals(); }};
        }
    };

    /// The render the arguments ask for, of at most `largestWidth` x `largestHeight` pixels for
    /// `formatName`, checked as `vantrel render` checks its options.
    Prepared Prepare(const ImageArguments& arguments, int largestWidth, int largestHeight,
                     const std::string& formatName) const {
        const OutputType type = ImageTypeNamed(arguments.type);
        if (arguments.samples < 1 || arguments.samples > largestSamples) {
            throw ArgumentError("samples",
                                "a whole number from 1 to " + std::to_string(largestSamples) +
                                    ", the sub-samples along each side of a pixel",
                                std::to_string(arguments.samples));
        }
        if (type == OutputType::Int && arguments.samples > 1) {
            throw Error(
                Error::Kind::BadInput,
                "a pixel's sub-samples are averaged, and a mean of integers is no integer; samples is "
                "for the real-valued types, not int")
                .WithSource("samples");
        }
        const std::shared_ptr<const Scene> held = scene;
        Function& node = NodeOf(*held, arguments.node);
        const SampleDomain domain = DomainOf(*held, arguments.region);
        const int width = arguments.width;
        if (width < 1 || width > largestWidth) {
            throw ArgumentError(
                "width", "a whole number from 1 to " + std::to_string(largestWidth) + " for " + formatName,
                std::to_string(width));
        }
        if (arguments.height && (*arguments.height < 1 || *arguments.height > largestHeight)) {
            throw ArgumentError(
                "height", "a whole number from 1 to " + std::to_string(largestHeight) + " for " + formatName,
                std::to_string(*arguments.height));
        }
        const double height = arguments.height ? *arguments.height : domain.HeightFor(width);
        if (height > largestHeight) {
            char figure[32];
            std::snprintf(figure, sizeof figure, height < 1e15 ? "%.0f" : "about %.3g", height);
            throw Error(Error::Kind::BadInput,
                        "at a width of " + std::to_string(width) + " the image would be " + figure +
                            " pixels high; expected at most " + std::to_string(largestHeight) + " for " +
                            formatName + " (or give a height)")
                .WithSource(name)
                .AtPointer("/domain");
        }
        return {held,
                &node,
                domain,
                width,
                static_cast<int>(height),
                type,
                arguments.samples,
                ThreadsOf(arguments.threads)};
    }

    static ImageFormat FormatNamed(const std::string& format) {
        if (format == "png") return ImageFormat::Png;
        if (format == "exr") return ImageFormat::Exr;
        throw ArgumentError("format", "\"png\" or \"exr\"", quib::Quote(format));
    }

    /// A render in `parts` parts (none: not yet known) into a file of `format` of `depth` bits, linear
    /// or not, checked as `vantrel render --part` checks its options.
    Prepared PreparePart(const ImageArguments& arguments, ImageFormat format, int depth, bool linear,
                         std::optional<int> parts) const {
        CheckFormat(format, depth, linear, "format");
        const ImageLimits limits = LargestImage(format, ChannelsFor(ImageTypeNamed(arguments.type)));
        Prepared image = Prepare(arguments, limits.width, limits.height, FormatName(format));
        if (parts && (*parts < 1 || *parts > image.height)) {
            throw ArgumentError("parts",
                                "a whole number from 1 to " + std::to_string(image.height) +
                                    ", the rows of the " + std::to_string(image.width) + "x" +
                                    std::to_string(image.height) + " image",
                                std::to_string(*parts));
        }
        return image;
    }

    /// The node `id` names, or the output. An id the scene lacks is refused as `--node` refuses it:
    /// by building the scene with it.
    Function& NodeOf(const Scene& built, const std::optional<std::string>& id) const {
        if (!id) return built.Output();
        if (Function* node = built.Node(*id)) return *node;
        SceneEdits asked = edits;
        asked.output = *id;
        asked.said = "--node " + *id + (edits.said.empty() ? "" : " ") + edits.said;
        Scene::FromDocument(*document, name, module, asked);
        throw ArgumentError("node", "the id of a node of the scene", quib::Quote(*id));  // not reached
    }

    static SampleDomain DomainOf(const Scene& built, const std::optional<std::vector<double>>& region) {
        if (!region) return built.Domain();
        if (region->size() != 4 ||
            !std::all_of(region->begin(), region->end(), [](double x) { return std::isfinite(x); }))
            throw ArgumentError("region", "four finite numbers A, B, C, D");
        try {
            return built.Domain().Part({(*region)[0], (*region)[1], (*region)[2], (*region)[3]});
        } catch (Error& error) {
            throw std::move(error.WithSource("region"));
        }
    }

    Scene::ModulePointer module;
    std::shared_ptr<const JsonDocument> document;
    std::string name;
    SceneEdits edits;
    std::shared_ptr<const Scene> scene;
};

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
        CheckFormat(*format, 0, false, this->path);
        open = std::make_unique<Open>(this->path, *format);
    }

    /// Adds the next part, the bytes of its part file, `name` in messages.
    void Add(const py::bytes& part, const std::string& name) {
        char* data = nullptr;
        Py_ssize_t size = 0;
        PyBytes_AsStringAndSize(part.ptr(), &data, &size);
        py::gil_scoped_release unlocked;  // `part` stays alive in the caller's hands meanwhile
        std::lock_guard turn(mutex);
        Guarded([&](Open& file) {
            file.joiner.Add({reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)},
                            name);
            if (file.joiner.Format() != file.format) {
                const bool png = file.joiner.Format() == ImageFormat::Png;
                throw Error(Error::Kind::BadInput,
                            std::string("the parts are of ") + FormatName(*file.joiner.Format()) +
                                ": expected a file name ending in " + (png ? ".png" : ".exr"));
            }
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
              pending(path),
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

/// An image array of the type `typeName` as an 8-bit PNG in memory, as `save_image` writes it.
py::bytes EncodePng(const Pixels& pixels, const std::string& typeName) {
    const PngLevels levels = LevelsFor(ImageTypeNamed(typeName), false);
    const int channels = ImageChannels(pixels);
    std::string png;
    {
        py::gil_scoped_release unlocked;
        PngEncoder encoder(static_cast<int>(pixels.shape(1)), static_cast<int>(pixels.shape(0)), channels, 8,
                           levels, BandsInFlight(1), [&](std::span<const std::uint8_t> piece) {
                               png.append(piece.begin(), piece.end());
                           });
        EncodeImage(pixels.data(), encoder);
    }
    return py::bytes(png);
}

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
}  // namespace vantrel

PYBIND11_MODULE(_vantrel, extension) {
    using namespace vantrel;
    RaiseThreadStacks();
    // Every quib::Error becomes the package's exception of its kind (vantrel/_errors.py).
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const quib::Error& error) {
            py::object made = py::module_::import("vantrel._errors")
                                  .attr("from_native")(error.what(), quib::KindName(error.GetKind()),
                                                       error.Source(), error.Pointer(), error.ExpectedText(),
                                                       error.Found(), error.Line(), error.Column());
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(made.ptr())), made.ptr());
        }
    });

    // The modules loaded together, from a list of files.
    py::class_<ModuleSet, std::shared_ptr<ModuleSet>>(extension, "Modules")
        .def(py::init(&ModuleSet::Load))
        .def_property_readonly("paths", &ModuleSet::Paths)
        .def_property_readonly("versions", &ModuleSet::Versions)
        .def("listing", [](const ModuleSet& modules) { return ListModule(modules).dump(); });

    py::class_<ImageArguments>(extension, "ImageArguments")
        .def(py::init<>())
        .def_readwrite("width", &ImageArguments::width)
        .def_readwrite("height", &ImageArguments::height)
        .def_readwrite("type", &ImageArguments::type)
        .def_readwrite("region", &ImageArguments::region)
        .def_readwrite("samples", &ImageArguments::samples)
        .def_readwrite("node", &ImageArguments::node)
        .def_readwrite("threads", &ImageArguments::threads);

    py::class_<PackageScene>(extension, "Scene")
        .def_static("load",
                    [](std::shared_ptr<ModuleSet> module, const std::string& path) {
                        return PackageScene::Load(std::move(module), path);
                    })
        .def_static("parse",
                    [](std::shared_ptr<ModuleSet> module, std::string text, const std::string& name) {
                        return PackageScene::Parse(std::move(module), std::move(text), name);
                    })
        .def("set", &PackageScene::Set)
        .def("json", &PackageScene::Json)
        .def("domain", &PackageScene::Domain)
        .def("output_type", &PackageScene::OutputTypeOf)
        .def("samples", &PackageScene::SamplesOf)
        .def("eval", &PackageScene::Eval)
        .def("render", &PackageScene::Render)
        .def("save", &PackageScene::Save)
        .def("check_part", &PackageScene::CheckPart)
        .def("render_part", &PackageScene::RenderPart);

    py::class_<PackageJoiner>(extension, "PartJoiner")
        .def(py::init<std::string>())
        .def("add", &PackageJoiner::Add)
        .def("finish", &PackageJoiner::Finish)
        .def("abort", &PackageJoiner::Abort);

    extension.def("encode_png", &EncodePng);
}
