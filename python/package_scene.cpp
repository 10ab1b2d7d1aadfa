// The package's scenes: evaluated, rendered and written as vantrel does each, their arguments checked as
// its options are.

#include "python/package_scene.h"

#include <climits>
#include <cstdio>
#include <span>
#include <type_traits>
#include <vector>

#include "host/components.h"
#include "quib/text.h"
#include "scene/scene_format.h"
#include "tools/cli/commands.h"
#include "tools/image/exr_encoder.h"
#include "tools/image/output_file.h"
#include "tools/image/part_file.h"
#include "tools/image/png_encoder.h"
#include "tools/render/render_core.h"
#include "tools/render/sample_arrays.h"

namespace vantrel::python {
namespace {

using quib::Error;

/// While the work runs without the interpreter's lock, a Ctrl-C (or another signal's handler that
/// raises) stops it: called on the calling thread a few times a second.
void CheckSignals() {
    py::gil_scoped_acquire interpreter;
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

ImageFormat FormatNamed(const Text& format) {
    const std::string expected = "\"png\" or \"exr\"";
    const std::string name = TextOf(format, "format", expected);
    if (name == "png") return ImageFormat::Png;
    if (name == "exr") return ImageFormat::Exr;
    throw ArgumentError("format", expected, Shown(format.value));
}

SampleDomain DomainOf(const Scene& built, const std::optional<std::vector<double>>& region) {
    if (!region) return built.Domain();
    try {
        return built.Domain().Part({(*region)[0], (*region)[1], (*region)[2], (*region)[3]});
    } catch (Error& error) {
        throw std::move(error.WithSource("region"));
    }
}

/// The values of `node` at `xyz` as the result of eval: float64 or int32 (N,), float64 (N, components),
/// or a list of str.
template <class T>
py::object Values(Function& node, std::span<const double> xyz, int threads) {
    const std::size_t count = xyz.size() / 3;
    auto evaluate = [&](std::span<T> values) {
        py::gil_scoped_release unlocked;
        EvalAt(node, xyz, values, threads, CheckSignals);
    };
    if constexpr (std::is_same_v<T, double> || std::is_same_v<T, int>) {
        py::array_t<T> values(count);
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
}

}  // namespace

/// A render, checked.
struct PackageScene::Prepared {
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

PackageScene::PackageScene(Scene::ModulePointer module, std::shared_ptr<const JsonDocument> document,
                           std::string name)
    : module(std::move(module)), document(std::move(document)), name(std::move(name)) {
    scene = std::make_shared<const Scene>(Scene::FromDocument(*this->document, this->name, this->module));
}

PackageScene PackageScene::Load(Scene::ModulePointer module, const std::string& path) {
    return {std::move(module), std::make_shared<const JsonDocument>(ReadSceneFile(path)), path};
}

PackageScene PackageScene::Parse(Scene::ModulePointer module, std::string text, const Text& name) {
    const std::string named =
        TextOf(name, "name", "a name for the scene's messages, without a NUL character");
    JsonDocument parsed = [&] {
        try {
            return JsonDocument::Parse(std::move(text), sceneNesting);
        } catch (Error& error) {
            throw std::move(error.InSource(named));
        }
    }();
    return {std::move(module), std::make_shared<const JsonDocument>(std::move(parsed.Value())), named};
}

void PackageScene::Set(const Text& key, const std::string& value) {
    // An id holds no NUL character (docs/scene-format.md), and one would cut the message short.
    const std::string expected = "ID.PARAM, the id of a node and the name of its parameter";
    const std::string named = TextOf(key, "key", expected);
    const std::size_t dot = named.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == named.size())
        throw ArgumentError("key", expected, Shown(key.value));
    // The key names the parameter whole: an earlier setting of it is replaced.
    SceneEdits changed;
    for (const SceneEdits::Setting& setting : edits.settings) {
        if (!setting.assignment.starts_with(named + "=")) changed.settings.push_back(setting);
    }
    changed.settings.push_back({named + "=" + value, "--set " + named + "=" + value});
    for (const SceneEdits::Setting& setting : changed.settings)
        changed.said += (changed.said.empty() ? "" : " ") + setting.said;
    auto built = std::make_shared<const Scene>(Scene::FromDocument(*document, name, module, changed));
    edits = std::move(changed);
    scene = std::move(built);
}

quib::Json PackageScene::Described() const {
    quib::Json root = document->Value();
    edits.ApplyTo(root, name, *module);
    return root;
}

std::string PackageScene::OutputTypeOf() const {
    return std::string(OutputTypeName(scene->NamedType().value_or(OutputType::Color)));
}

int PackageScene::SamplesOf() const {
    return scene->NamedSamples().value_or(1);
}

py::dict PackageScene::Domain() const {
    const SampleDomain& domain = scene->Domain();
    py::dict described;
    described["kind"] = domain.kind == SampleDomain::Kind::Plane ? "plane" : "sphere";
    if (domain.kind == SampleDomain::Kind::Plane) {
        described["min"] = py::make_tuple(domain.min.x, domain.min.y);
        described["max"] = py::make_tuple(domain.max.x, domain.max.y);
    }
    return described;
}

py::object PackageScene::Eval(const Pixels& points, const Text& type, const std::optional<Text>& id,
                              const std::optional<Whole>& threads) const {
    if (points.ndim() != 2 || points.shape(1) != 3)
        throw ArgumentError("points", "an array of N positions x, y, z, shaped (N, 3)");
    const std::shared_ptr<const Scene> held = scene;
    Function& node = NodeOf(*held, id);
    const int threadCount = ThreadsOf(threads);
    const std::span<const double> xyz(points.data(), 3 * static_cast<std::size_t>(points.shape(0)));
    return VisitOutputType(TypeNamed(type),
                           [&]<class T>(std::type_identity<T>) { return Values<T>(node, xyz, threadCount); });
}

Pixels PackageScene::Render(const ImageArguments& arguments) const {
    const Prepared image = Prepare(arguments, INT_MAX, INT_MAX, "an image in memory");
    Pixels pixels({image.height, image.width, ChannelsFor(image.type)});
    double* data = pixels.mutable_data();
    py::gil_scoped_release unlocked;
    ImageBuffer buffer(image.width, image.height, ChannelsFor(image.type), data);
    vantrel::Render(image.Request(), buffer);
    return pixels;
}

void PackageScene::Save(const std::string& path, const std::optional<Pixels>& pixels,
                        const ImageArguments& arguments, const std::optional<Whole>& depth,
                        bool linear) const {
    const std::optional<ImageFormat> format = FormatFor(path);
    if (!format)
        throw Error(Error::Kind::BadInput, "expected a file name ending in .png or .exr").WithSource(path);
    const int bits = BitsOf(*format, depth, linear, path);
    const OutputType type = ImageTypeNamed(arguments.type);
    const int channels = pixels ? ImageChannels(*pixels, type) : ChannelsFor(type);
    const ImageLimits limits = LargestImage(*format, channels);
    const std::string formatName = FormatName(*format);
    std::optional<Prepared> image;
    if (!pixels) image = Prepare(arguments, limits.width, limits.height, formatName);
    const int width = pixels ? static_cast<int>(pixels->shape(1)) : image->width;
    const int height = pixels ? static_cast<int>(pixels->shape(0)) : image->height;
    if (pixels && (pixels->shape(1) > limits.width || pixels->shape(0) > limits.height)) {
        throw ArgumentError("image", "at most " + std::to_string(limits.width) + " x " +
                                         std::to_string(limits.height) + " pixels for " + formatName + " (" +
                                         limits.why + ")");
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
    PendingFile file(path, PendingFile::Links::WriteThrough);  // as vantrel render writes
    try {
        if (*format == ImageFormat::Png) {
            OutputBytes bytes(file.Path(), "the PNG");
            PngEncoder png(width, height, channels, bits, LevelsFor(type, linear), BandsInFlight(threads),
                           [&](std::span<const std::uint8_t> piece) { bytes.Put(piece); });
            fill(png);
            bytes.Close();
        } else {
            OutputBytes bytes(file.Path(), "the OpenEXR image");
            ExrEncoder exr(width, height, channels, BandsInFlight(threads), bytes);
            if (fill(exr)) exr.Finish();
            bytes.Close();
        }
    } catch (const Error& error) {
        if (!error.Source().empty()) throw;
        throw Error(error.GetKind(), error.Detail()).WithSource(path);
    }
    file.Commit();
}

std::tuple<int, int, int> PackageScene::CheckPart(const ImageArguments& arguments, const Text& format,
                                                  const std::optional<Whole>& depth, bool linear,
                                                  const std::optional<Whole>& parts) const {
    const ImageFormat named = FormatNamed(format);
    BitsOf(named, depth, linear, "format");
    const Prepared image = PreparePart(arguments, named, parts);
    return {image.width, image.height, ChannelsFor(image.type)};
}

py::bytes PackageScene::RenderPart(const ImageArguments& arguments, const Text& formatName,
                                   const std::optional<Whole>& depth, bool linear, const Whole& part,
                                   const Whole& parts) const {
    const ImageFormat format = FormatNamed(formatName);
    const int bits = BitsOf(format, depth, linear, "format");
    const Prepared image = PreparePart(arguments, format, parts);
    const int number = static_cast<int>(
        WholeIn(part, "part", 1, *parts.number, "a whole number from 1 to " + std::to_string(*parts.number)));
    // Named as `vantrel render --part --node ID` names it: the node is the scene's output.
    quib::Json named = Described();
    if (arguments.node && named.is_object()) named["output"] = *arguments.node->text;
    std::string bytes;
    {
        py::gil_scoped_release unlocked;
        vantrel::RenderPart(
            {image.Request(), format, bits, LevelsFor(image.type, linear), std::move(named),
             image.scene->Modules().Versions(), number, static_cast<int>(*parts.number)},
            [&](std::span<const std::uint8_t> piece) { bytes.append(piece.begin(), piece.end()); });
    }
    return py::bytes(bytes);  // given no cancel flag, a render ends complete or throws
}

/// The render the arguments ask for, of at most `largestWidth` x `largestHeight` pixels for
/// `formatName`, checked as `vantrel render` checks its options.
PackageScene::Prepared PackageScene::Prepare(const ImageArguments& arguments, int largestWidth,
                                             int largestHeight, const std::string& formatName) const {
    const OutputType type = ImageTypeNamed(arguments.type);
    const int samples =
        static_cast<int>(WholeIn(arguments.samples, "samples", 1, largestSamples,
                                 "a whole number from 1 to " + std::to_string(largestSamples) +
                                     ", the sub-samples along each side of a pixel"));
    if (type == OutputType::Int && samples > 1) {
        throw Error(Error::Kind::BadInput,
                    "a pixel's sub-samples are averaged, and a mean of integers is no integer; samples is "
                    "for the real-valued types, not int")
            .WithSource("samples");
    }
    const std::shared_ptr<const Scene> held = scene;
    Function& node = NodeOf(*held, arguments.node);
    const SampleDomain domain = DomainOf(*held, arguments.region);
    const auto side = [&](const char* argument, const Whole& given, int largest) {
        return static_cast<int>(
            WholeIn(given, argument, 1, largest,
                    "a whole number from 1 to " + std::to_string(largest) + " for " + formatName));
    };
    const int width = side("width", arguments.width, largestWidth);
    const double height =
        arguments.height ? side("height", *arguments.height, largestHeight) : domain.HeightFor(width);
    if (height > largestHeight) {
        char figure[32];
        std::snprintf(figure, sizeof figure, height < 1e15 ? "%.0f" : "about %.3g", height);
        throw Error(Error::Kind::BadInput, "at a width of " + std::to_string(width) + " the image would be " +
                                               figure + " pixels high; expected at most " +
                                               std::to_string(largestHeight) + " for " + formatName +
                                               " (or give a height)")
            .WithSource(name)
            .AtPointer("/domain");
    }
    return {
        held, &node, domain, width, static_cast<int>(height), type, samples, ThreadsOf(arguments.threads)};
}

/// A render in `parts` parts (none: not yet known) into a file of `format`, checked as `vantrel render
/// --part` checks its options.
PackageScene::Prepared PackageScene::PreparePart(const ImageArguments& arguments, ImageFormat format,
                                                 const std::optional<Whole>& parts) const {
    const ImageLimits limits = LargestImage(format, ChannelsFor(ImageTypeNamed(arguments.type)));
    Prepared image = Prepare(arguments, limits.width, limits.height, FormatName(format));
    if (parts) {
        WholeIn(*parts, "parts", 1, image.height,
                "a whole number from 1 to " + std::to_string(image.height) + ", the rows of the " +
                    std::to_string(image.width) + "x" + std::to_string(image.height) + " image");
    }
    return image;
}

/// The node `id` names, or the output. An id the scene lacks is refused as `--node` refuses it: by
/// building the scene with it.
Function& PackageScene::NodeOf(const Scene& built, const std::optional<Text>& id) const {
    if (!id) return built.Output();
    // An id holds no NUL character (docs/scene-format.md), and one would cut the message short.
    const std::string named = TextOf(*id, "node", "the id of a node of the scene");
    if (Function* node = built.Node(named)) return *node;
    SceneEdits asked = edits;
    asked.output = named;
    asked.said = "--node " + named + (edits.said.empty() ? "" : " ") + edits.said;
    Scene::FromDocument(*document, name, module, asked);
    throw ArgumentError("node", "the id of a node of the scene", Shown(id->value));  // not reached
}

py::bytes EncodePng(const Pixels& pixels, const Text& typeName) {
    const OutputType type = ImageTypeNamed(typeName);
    const int channels = ImageChannels(pixels, type);
    const PngLevels levels = LevelsFor(type, false);
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

}  // namespace vantrel::python
