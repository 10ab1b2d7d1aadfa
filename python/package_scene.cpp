// The package's scenes: evaluated, rendered and written as vantrel does each, their arguments checked as
// its options are.

#include "python/package_scene.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <span>
#include <type_traits>
#include <variant>
#include <vector>

#include "host/components.h"
#include "quib/text.h"
#include "scene/scene_format.h"
#include "tools/cli/commands.h"
#include "tools/image/exr_encoder.h"
#include "tools/image/output_file.h"
#include "tools/image/part_file.h"
#include "tools/image/png_encoder.h"
#include "tools/render/image_writer.h"
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

/// The positions evaluated at a time into a scratch of values that are not stored as they are: enough
/// chunks for every thread, and the scratch bounded whatever the count.
constexpr std::size_t scratchPositions = 16384;

/// Evaluates `node` at `xyz` into `values`, releasing the interpreter's lock meanwhile.
template <class T>
void Evaluate(Function& node, std::span<const double> xyz, std::span<T> values, int threads) {
    py::gil_scoped_release unlocked;
    EvalAt(node, xyz, values, threads, CheckSignals);
}

/// The values of `node` at `xyz` stored into `out` (the count x components of their type, C order):
/// straight in where `Out` is the type's own, else through a bounded scratch of the values, each
/// component computed in double and rounded to `Out` only as it is stored.
template <class T, class Out>
void StoreValues(Function& node, std::span<const double> xyz, int threads, Out* out) {
    const std::size_t count = xyz.size() / 3;
    if constexpr (std::is_same_v<T, Out>) {
        Evaluate<T>(node, xyz, {out, count}, threads);
    } else {
        std::vector<T> scratch(std::min(count, scratchPositions));
        for (std::size_t first = 0; first < count; first += scratch.size()) {
            const std::size_t taken = std::min(scratch.size(), count - first);
            const std::span<T> values(scratch.data(), taken);
            Evaluate<T>(node, xyz.subspan(3 * first, 3 * taken), values, threads);
            for (const T& value : values) {
                for (const double component : host::ComponentsOf(value))
                    *out++ = static_cast<Out>(component);
            }
        }
    }
}

/// The values of `node` at `xyz` as the result of eval: into `out`, or a new float64 or int32 (N,),
/// float64 (N, components), or a list of str.
template <class T>
py::object Values(Function& node, std::span<const double> xyz, int threads, std::optional<EvalOut> out) {
    const std::size_t count = xyz.size() / 3;
    if constexpr (std::is_same_v<T, std::string>) {
        if (out) throw ArgumentError("out", "None for the type string, whose values are str");
        std::vector<T> values(count);
        Evaluate<T>(node, xyz, values, threads);
        py::list texts(count);
        for (std::size_t i = 0; i < count; ++i)
            texts[i] = py::str(values[i]);
        return texts;
    } else {
        using Own = std::conditional_t<std::is_same_v<T, int>, int, double>;
        constexpr auto components = static_cast<std::size_t>(host::componentCount<T>);
        using Made = py::array_t<Own, py::array::c_style>;
        if (!out) out = std::is_same_v<T, Own> ? Made(count) : Made({count, components});
        return std::visit(
            [&]<class Out>(py::array_t<Out, py::array::c_style>& array) -> py::object {
                constexpr bool fits = std::is_same_v<Own, int> == std::is_same_v<Out, int>;
                if (!fits || static_cast<std::size_t>(array.size()) != count * components) {
                    throw ArgumentError("out", "a writable C-contiguous array of the values' shape and type",
                                        Shown(array));
                }
                if constexpr (fits) StoreValues<T, Out>(node, xyz, threads, array.mutable_data());
                return std::move(array);
            },
            *out);
    }
}

}  // namespace

/// A render, planned: the scene it renders, held meanwhile, and its node.
struct PackageScene::Prepared {
    std::shared_ptr<const Scene> scene;
    Function* node;
    ImagePlan plan;

    RenderRequest Request() const {
        RenderRequest request = plan.Render(*node);
        request.progress = [](const RenderProgress&) { CheckSignals(); };
        return request;
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
    described["kind"] = DomainKindName(domain.kind);
    if (domain.kind == SampleDomain::Kind::Mesh) {
        const MeshReference& reference = domain.meshReference;
        described[reference.file.empty() ? "shape" : "file"] =
            reference.file.empty() ? reference.shape : reference.file;
        if (!reference.file.empty()) described["uv"] = reference.uvSet;
        described["padding"] = domain.padding;
        described["triangles"] = domain.mesh->triangles.size();
    } else if (domain.kind == SampleDomain::Kind::Plane) {
        described["min"] = py::make_tuple(domain.min.x, domain.min.y);
        described["max"] = py::make_tuple(domain.max.x, domain.max.y);
    }
    return described;
}

py::object PackageScene::Eval(const Pixels& points, const Text& type, const std::optional<Text>& id,
                              const std::optional<Whole>& threads, std::optional<EvalOut> out) const {
    if (points.ndim() != 2 || points.shape(1) != 3)
        throw ArgumentError("points", "an array of N positions x, y, z, shaped (N, 3)");
    const std::shared_ptr<const Scene> held = scene;
    Function& node = NodeOf(*held, id);
    const int threadCount = ThreadsOf(threads);
    const std::span<const double> xyz(points.data(), 3 * static_cast<std::size_t>(points.shape(0)));
    return VisitOutputType(TypeNamed(type), [&]<class T>(std::type_identity<T>) {
        return Values<T>(node, xyz, threadCount, std::move(out));
    });
}

std::pair<Pixels, std::string> PackageScene::Render(const ImageArguments& arguments) const {
    const Prepared image = Prepare(arguments, RequestOf(arguments), "");
    const ImagePlan& plan = image.plan;
    Pixels pixels({plan.height, plan.width, ChannelsFor(plan.type)});
    double* data = pixels.mutable_data();
    {
        py::gil_scoped_release unlocked;
        ImageBuffer buffer(plan.width, plan.height, ChannelsFor(plan.type), data);
        vantrel::Render(image.Request(), buffer);
    }
    return {std::move(pixels), std::string(OutputTypeName(plan.type))};
}

Pixels PackageScene::SamplePositions(const ImageArguments& arguments) const {
    const Prepared image = Prepare(arguments, RequestOf(arguments), "");
    const ImagePlan& plan = image.plan;
    Pixels positions({plan.height, plan.width, plan.samples * plan.samples, 3});
    vantrel::SamplePositions(image.Request(), positions.mutable_data());
    return positions;
}

void PackageScene::Save(const std::string& path, const std::optional<Pixels>& pixels,
                        const ImageArguments& arguments, const std::optional<Whole>& depth,
                        bool linear) const {
    const std::optional<ImageFormat> format = FormatFor(path);
    if (!format)
        throw Error(Error::Kind::BadInput, "expected a file name ending in .png or .exr").WithSource(path);
    const ImageRequest request = FileRequestOf(arguments, *format, depth, linear);
    std::optional<Prepared> image;
    if (!pixels) image = Prepare(arguments, request, path);
    const ImagePlan plan = image ? image->plan : PixelsPlan(*pixels, request, path);
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
        WriteImageFile(plan, file.Path(), fill);
    } catch (const Error& error) {
        if (!error.Source().empty()) throw;
        throw Error(error.GetKind(), error.Detail()).WithSource(path);
    }
    file.Commit();
}

/// The plan of writing `pixels`, an image array of the request's type, as `request` asks: its size the
/// array's, within the format's limits, and one sample a pixel.
ImagePlan PackageScene::PixelsPlan(const Pixels& pixels, const ImageRequest& request,
                                   const std::string& path) const {
    ImageChannels(pixels, *request.type);
    ImageRequest sized = request;
    sized.width = pixels.shape(1);
    sized.height = pixels.shape(0);
    sized.samples = 1;
    return PlanImage(sized, *scene, name, ArgumentFields(path));
}

std::tuple<int, int, int, std::string> PackageScene::Planned(const ImageArguments& arguments) const {
    const ImagePlan plan = Prepare(arguments, RequestOf(arguments), "").plan;
    return {plan.height, plan.width, ChannelsFor(plan.type), std::string(OutputTypeName(plan.type))};
}

std::tuple<int, int, int> PackageScene::CheckPart(const ImageArguments& arguments, const Text& format,
                                                  const std::optional<Whole>& depth, bool linear,
                                                  const std::optional<Whole>& parts) const {
    const ImagePlan plan = PreparePart(arguments, format, depth, linear, parts).plan;
    return {plan.width, plan.height, ChannelsFor(plan.type)};
}

py::bytes PackageScene::RenderPart(const ImageArguments& arguments, const Text& format,
                                   const std::optional<Whole>& depth, bool linear, const Whole& part,
                                   const Whole& parts) const {
    const Prepared image = PreparePart(arguments, format, depth, linear, parts);
    const ImagePlan& plan = image.plan;
    const int number = static_cast<int>(
        WholeIn(part, "part", 1, *parts.number, "a whole number from 1 to " + std::to_string(*parts.number)));
    // Named as `vantrel render --part --node ID` names it: the node is the scene's output.
    quib::Json named = Described();
    if (arguments.node && named.is_object()) named["output"] = *arguments.node->text;
    std::string bytes;
    {
        py::gil_scoped_release unlocked;
        vantrel::RenderPart(
            {image.Request(), plan, std::move(named), image.scene->Modules().Versions(), number,
             static_cast<int>(*parts.number)},
            [&](std::span<const std::uint8_t> piece) { bytes.append(piece.begin(), piece.end()); });
    }
    return py::bytes(bytes);  // given no cancel flag, a render ends complete or throws
}

/// The render `request` asks for (made of `arguments`, and the format's `formatSource` for messages),
/// planned as `vantrel render` plans its options.
PackageScene::Prepared PackageScene::Prepare(const ImageArguments& arguments, const ImageRequest& request,
                                             const std::string& formatSource) const {
    const std::shared_ptr<const Scene> held = scene;
    Function& node = NodeOf(*held, arguments.node);
    return {held, &node, PlanImage(request, *held, name, ArgumentFields(formatSource))};
}

/// A render in `parts` parts (none: not yet known) into a file of `format` ("png", "exr").
PackageScene::Prepared PackageScene::PreparePart(const ImageArguments& arguments, const Text& format,
                                                 const std::optional<Whole>& depth, bool linear,
                                                 const std::optional<Whole>& parts) const {
    ImageRequest request = FileRequestOf(arguments, FormatNamed(format), depth, linear);
    if (parts) request.parts = NumberOf(*parts, "parts");
    return Prepare(arguments, request, "format");
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
