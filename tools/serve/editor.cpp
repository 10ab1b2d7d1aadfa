#include "tools/serve/editor.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <span>
#include <thread>
#include <type_traits>

#include "host/curve_holder.h"
#include "host/gradient.h"
#include "quib/text.h"
#include "scene/module_listing.h"
#include "scene/scene_format.h"
#include "tools/image/output_file.h"
#include "tools/image/png_encoder.h"
#include "tools/render/render_core.h"
#include "tools/render/value_text.h"

namespace vantrel {
namespace {

using quib::Error;
using quib::Json;

/// Renders that may run at once, each on every core, and that may wait in line for them; beyond those
/// a render is refused at once (Busy), so that a flood of them cannot hold every thread.
constexpr std::size_t rendersRunning = 2;
constexpr std::size_t rendersWaiting = 14;
/// How many samples a curve or gradient plot may ask for.
constexpr int maxPlotSamples = 1024;
/// How many scenes the session keeps built: the page's requests of one edit share the newest, and a
/// second tab has its own.
constexpr std::size_t keptScenes = 4;

/// What messages call a scene sent by the page: it is the page's, not yet any file's.
constexpr const char* requestSceneName = "scene";

/// The scene `vantrel serve` starts with when it is given none: one lattice on the sphere.
// clang-format off
const char* const newScene = R"scene({"format": "vantrel-scene/1",
 "nodes": [{"id": "lattice", "type": "Hexagonal lattice 3D(1)", "params": {"Position": {"link": "@position"}}}],
 "output": "lattice", "domain": {"kind": "sphere"}})scene";
// clang-format on

Error Refused(Error::Kind kind, const std::string& source, std::string detail) {
    return std::move(Error(kind, std::move(detail)).WithSource(source));
}

/// The scene file at `path` in the folder, read whole; at most what a request may carry, since the page
/// sends it back with every edit.
JsonDocument ReadScene(const std::filesystem::path& path, const std::string& name) {
    std::error_code error;
    const std::filesystem::file_status kind = std::filesystem::symlink_status(path, error);
    if (!std::filesystem::is_regular_file(kind))
        throw Refused(Error::Kind::Refused, name, "expected a scene file, not a link or a folder");
    if (std::filesystem::file_size(path, error) > maxBodyBytes)
        throw Refused(Error::Kind::TooLarge, name,
                      "expected at most " + std::to_string(maxBodyBytes) + " bytes");
    std::ifstream file(path, std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file.good() && !file.eof())
        throw Refused(Error::Kind::BadInput, name,
                      std::string("cannot read the file: ") + std::strerror(errno));
    try {
        return JsonDocument::Parse(std::move(text), sceneNesting);
    } catch (Error& error) {
        throw std::move(error.InSource(name));
    }
}

/// The node "node" names, or the scene's output for null when `nullable`.
Function& NodeOf(const Scene& scene, const RequestBody& body, bool nullable) {
    const std::optional<std::string> id = body.String("node", nullable);
    if (!id) return scene.Output();
    Function* node = scene.Node(*id);
    if (!node) {
        throw Error::Expected(Error::Kind::BadInput, {}, "the id of a node of the scene", quib::Quote(*id))
            .WithSource("request: \"node\"");
    }
    return *node;
}

/// The scene's domain, or the part of it "region" picks.
SampleDomain DomainOf(const Scene& scene, const RequestBody& body) {
    const std::optional<std::array<double, 4>> region = body.Region();
    if (!region) return scene.Domain();
    try {
        return scene.Domain().Part(*region);
    } catch (Error& error) {
        throw std::move(error.WithSource("request: \"region\""));
    }
}

/// `samples` evenly spaced reals from `low` to `high`, both included. The steps are taken in halves of
/// the extent, which cannot overflow where the extent can, and added twice.
std::vector<double> Samples(double low, double high, int samples) {
    const double half = high / 2 - low / 2;
    std::vector<double> x(samples);
    for (int i = 0; i < samples; ++i) {
        const double step = half * i / (samples - 1);
        x[i] = i + 1 == samples ? high : (low + step) + step;
    }
    return x;
}

/// The curve or gradient of a node the field `field` names by `nameOf`.
template <class Item>
const Item& Named(const std::vector<Item*>& items, const std::string& (Item::*nameOf)() const,
                  const RequestBody& body, const char* field) {
    const std::string name = *body.String(field, false);
    const auto found =
        std::find_if(items.begin(), items.end(), [&](const Item* item) { return (item->*nameOf)() == name; });
    if (found == items.end()) {
        throw Error::Expected(Error::Kind::BadInput, {}, std::string("a ") + field + " of the node",
                              quib::Quote(name))
            .WithSource(std::string("request: \"") + field + "\"");
    }
    return **found;
}

}  // namespace

Editor::Editor(Scene::ModulePointer module, const ServeOptions& options)
    : module(std::move(module)), page(options.page), renders(rendersRunning, rendersWaiting) {
    std::optional<JsonDocument> document;
    if (options.scene.empty()) {
        document.emplace(JsonDocument::Parse(newScene, sceneNesting));
    } else {
        const std::filesystem::path path = options.scene;
        folder = path.parent_path().empty() ? "." : path.parent_path();
        startedName = path.filename().string();
        SceneFileIn(folder, *startedName);  // a name the page can save to again
        document.emplace(ReadScene(path, options.scene));
        // A scene that does not build stops the server at once, as `render` would.
        Scene::FromDocument(*document, options.scene, this->module);
        sessionFiles.insert(*startedName);
    }
    startedScene = document->Value();
    types = ListModule(*this->module).dump(2);
}

quib::Json Editor::StartedScene() const {
    return {{"file", startedName ? Json(*startedName) : Json()}, {"scene", startedScene}};
}

std::shared_ptr<const Scene> Editor::SceneOf(const RequestBody& body) const {
    std::string key = body.Scene().dump();
    {
        std::lock_guard lock(scenesMutex);
        const auto found =
            std::find_if(scenes.begin(), scenes.end(), [&](const auto& kept) { return kept.first == key; });
        if (found != scenes.end()) {
            scenes.splice(scenes.begin(), scenes, found);
            return found->second;
        }
    }
    std::shared_ptr<const Scene> built;
    try {
        built = std::make_shared<const Scene>(Scene::Build(body.Scene(), module));
    } catch (Error& error) {
        throw std::move(error.InSource(requestSceneName));
    }
    std::lock_guard lock(scenesMutex);
    scenes.emplace_front(std::move(key), built);
    if (scenes.size() > keptScenes) scenes.pop_back();
    return built;
}

quib::Json Editor::Files() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        try {
            SceneFileIn(folder, name);
        } catch (const Error&) {
            continue;
        }
        if (entry.is_regular_file(error) && !entry.is_symlink(error)) names.push_back(name);
    }
    if (error)
        throw Refused(Error::Kind::Failure, folder.string(), "cannot list the folder: " + error.message());
    std::sort(names.begin(), names.end());
    return {{"files", names}};
}

quib::Json Editor::Open(const RequestBody& body) {
    const std::string name = *body.String("file", false);
    const JsonDocument document = ReadScene(SceneFileIn(folder, name), name);
    Scene::FromDocument(document, name, module);
    {
        std::lock_guard lock(filesMutex);
        sessionFiles.insert(name);
    }
    return {{"file", name}, {"scene", document.Value()}};
}

quib::Json Editor::Save(const RequestBody& body) {
    const std::optional<std::string> asked = body.String("file", true);
    if (!asked && !startedName) {
        throw Refused(Error::Kind::BadInput, "request: \"file\"",
                      "this scene has no file yet; expected a file name");
    }
    const std::string name = asked ? *asked : *startedName;
    const std::filesystem::path target = SceneFileIn(folder, name);
    SceneOf(body);  // nothing is written for a scene that does not build
    std::lock_guard lock(filesMutex);
    std::error_code error;
    const std::filesystem::file_status kind = std::filesystem::symlink_status(target, error);
    if (std::filesystem::exists(kind)) {
        if (!std::filesystem::is_regular_file(kind))
            throw Refused(Error::Kind::Refused, name, "expected a scene file, not a link or a folder");
        if (sessionFiles.count(name) == 0) {
            throw Refused(Error::Kind::Refused, name,
                          "the file is there already and was not opened here; open it first to replace it");
        }
    }
    PendingFile file(target);
    {
        std::ofstream out(file.Path(), std::ios::binary | std::ios::trunc);
        out << body.Scene().dump(2) << "\n";
        out.flush();
        if (!out)
            throw Refused(Error::Kind::Failure, name,
                          std::string("cannot write the file: ") + std::strerror(errno));
    }
    file.Commit();
    sessionFiles.insert(name);
    return {{"file", name}};
}

quib::Json Editor::Check(const RequestBody& body) const {
    SceneOf(body);
    return {{"ok", true}};
}

quib::Json Editor::Value(const RequestBody& body) const {
    const std::shared_ptr<const Scene> scene = SceneOf(body);
    Function& node = NodeOf(*scene, body, true);
    const OutputType type = body.Type();
    const int width = body.Int("width", 1, maxServedSide);
    const int height = body.Int("height", 1, maxServedSide);
    const int x = body.Int("x", 0, width - 1);
    const int y = body.Int("y", 0, height - 1);
    const SampleDomain domain = DomainOf(*scene, body);
    FunContext context;
    context.position = domain.Position((x + 0.5) / width, (y + 0.5) / height);
    const std::string text = VisitOutputType(type, [&]<class T>(std::type_identity<T>) {
        T value{};
        node.Eval(&value, &context);
        return ValueText(value);
    });
    const Vec3d& p = context.position;
    return {{"position", {p.x, p.y, p.z}}, {"text", text}};
}

std::string Editor::Preview(const RequestBody& body) {
    const std::shared_ptr<const Scene> scene = SceneOf(body);
    Function& node = NodeOf(*scene, body, true);
    const OutputType type = body.Type();
    if (type == OutputType::String) {
        throw Refused(Error::Kind::BadInput, "request: \"type\"",
                      "an image needs a numeric output type, not string");
    }
    const int width = body.Int("width", 1, maxServedSide);
    const int height = body.Int("height", 1, maxServedSide);
    if (static_cast<long>(width) * height > maxServedPixels) {
        throw Refused(Error::Kind::BadInput, "request",
                      "expected an image of at most " + std::to_string(maxServedPixels) + " pixels, not " +
                          std::to_string(width) + "x" + std::to_string(height));
    }
    const SampleDomain domain = DomainOf(*scene, body);
    // A newer render for the same tab and job (the preview, a node's thumbnail) cancels this one.
    const std::string key = *body.String("client", false) + "\n" + *body.String("job", false);
    const RenderGate::Ticket ticket(renders, key);
    const auto cancelled = [] {
        return Error(Error::Kind::Conflict, "cancelled: a newer render of the same job came");
    };
    if (ticket.Result() == RenderGate::Admission::Full) {
        throw Error(Error::Kind::Busy, "busy: " + std::to_string(rendersRunning) + " renders run and " +
                                           std::to_string(rendersWaiting) + " wait; try again");
    }
    if (ticket.Result() == RenderGate::Admission::Cancelled) throw cancelled();
    const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::string png;
    PngEncoder encoder(width, height, ChannelsFor(type), 8, BandsInFlight(threads),
                       [&](std::span<const std::uint8_t> piece) { png.append(piece.begin(), piece.end()); });
    const RenderRequest request{.node = node,
                                .domain = domain,
                                .width = width,
                                .height = height,
                                .type = type,
                                .threads = threads,
                                .samples = 1,
                                .cancel = &ticket.Cancelled(),
                                .progress = {}};
    if (!Render(request, encoder)) throw cancelled();
    return png;
}

quib::Json Editor::Curve(const RequestBody& body) const {
    const std::shared_ptr<const Scene> scene = SceneOf(body);
    Function& node = NodeOf(*scene, body, false);
    const CurveHolder& curve = Named(node.Curves(), &CurveHolder::Name, body, "curve");
    const int samples = body.Int("samples", 2, maxPlotSamples);
    const int channels = curve.Form() == 3 ? 3 : 1;
    double low = curve.InputLow();
    double high = curve.InputHigh();
    Json points = Json::array();
    for (int channel = 0; channel < channels; ++channel) {
        Json list = Json::array();
        for (const CurveHolder::Point& point : curve.Points(channel)) {
            low = std::min(low, point.x);
            high = std::max(high, point.x);
            list.push_back({point.x, point.y});
        }
        points.push_back(std::move(list));
    }
    const std::vector<double> x = Samples(low, high, samples);
    using Read = double (CurveHolder::*)(double) const;
    const Read grey[] = {&CurveHolder::EvalGrey};
    const Read rgb[] = {&CurveHolder::EvalRed, &CurveHolder::EvalGreen, &CurveHolder::EvalBlue};
    Json lines = Json::array();
    for (int channel = 0; channel < channels; ++channel) {
        const Read read = channels == 3 ? rgb[channel] : grey[0];
        std::vector<double> y(x.size());
        std::transform(x.begin(), x.end(), y.begin(), [&](double at) { return (curve.*read)(at); });
        lines.push_back(y);
    }
    return {{"form", curve.Form()},
            {"inputRange", {curve.InputLow(), curve.InputHigh()}},
            {"x", x},
            {"channels", std::move(lines)},
            {"points", std::move(points)}};
}

quib::Json Editor::Gradient(const RequestBody& body) const {
    const std::shared_ptr<const Scene> scene = SceneOf(body);
    Function& node = NodeOf(*scene, body, false);
    const ::Gradient& gradient = Named(node.Gradients(), &::Gradient::Label, body, "gradient");
    const int samples = body.Int("samples", 2, maxPlotSamples);
    double low = 0.0;
    double high = 1.0;
    Json stops = Json::array();
    for (const ::Gradient::Stop& stop : gradient.Stops()) {
        low = std::min(low, stop.position);
        high = std::max(high, stop.position);
        stops.push_back({stop.position, {stop.colour.red, stop.colour.green, stop.colour.blue}});
    }
    const std::vector<double> x = Samples(low, high, samples);
    Json colours = Json::array();
    for (double at : x) {
        Color colour;
        gradient.GetColour(at, colour);
        colours.push_back({colour.red, colour.green, colour.blue});
    }
    return {{"x", x}, {"colours", std::move(colours)}, {"stops", std::move(stops)}};
}

std::optional<std::filesystem::path> Editor::PageFile(const std::string& urlPath) const {
    return StaticFile(page, urlPath);
}

}  // namespace vantrel
