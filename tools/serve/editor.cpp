#include "tools/serve/editor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <span>

#include "host/curve_holder.h"
#include "host/gradient.h"
#include "quib/open_file.h"
#include "quib/text.h"
#include "scene/module_listing.h"
#include "scene/scene_format.h"
#include "tools/image/output_file.h"
#include "tools/render/image_request.h"

namespace vantrel {
namespace {

/// What /api/types answers: the modules' listing, and the words and limits of a render request,
/// a preview's among them, so that the page offers what the server takes.
std::string TypesReply(const ModuleSet& modules) {
    quib::Json reply = ListModule(modules);
    quib::Json render = RequestVocabulary();
    render["limits"]["previewSide"] = maxServedSide;
    render["limits"]["previewPixels"] = maxServedPixels;
    reply["render"] = std::move(render);
    return reply.dump(2);
}

using quib::Error;
using quib::Json;

/// How many samples a curve or gradient plot may ask for.
constexpr int maxPlotSamples = 1024;

/// The scene `vantrel serve` starts with when it is given none: one lattice on the sphere.
// clang-format off
const char* const newScene = R"scene({"format": "vantrel-scene/1",
 "nodes": [{"id": "lattice", "type": "Hexagonal lattice 3D(1)", "params": {"Position": {"link": "@position"}}}],
 "output": "lattice", "domain": {"kind": "sphere"}})scene";
// clang-format on

Error Refused(Error::Kind kind, const std::string& source, std::string detail) {
    return std::move(Error(kind, std::move(detail)).WithSource(source));
}

/// A refusal of the server's own kind about the file `name`.
ServeError Refused(ServeKind kind, const std::string& name, std::string detail) {
    ServeError error(kind, std::move(detail));
    error.WithSource(name);
    return error;
}

/// A file's revision: its size and the CRC-32 of its bytes, which any change to it changes (but for a
/// collision of one in four billion).
std::string RevisionOf(const std::string& bytes) {
    const uLong crc =
        crc32_z(crc32_z(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), bytes.size());
    char text[32];
    std::snprintf(text, sizeof text, "%zu-%08lx", bytes.size(), crc);
    return text;
}

/// The bytes of the scene file `name` of the folder open as `folder`, or nothing when there is no such
/// file; at most what a request may carry, since the page sends the scene back with every edit. The
/// file is opened first and what was opened is checked: a link swapped in after a check would be
/// followed, out of the folder, by an open that came after it.
std::optional<std::string> FileBytes(int folder, const std::string& name) {
    const quib::OpenFile open(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const int file = open.descriptor;
    if (file < 0 && errno == ENOENT) return std::nullopt;
    if (file < 0 && errno == ELOOP)
        throw Refused(ServeKind::Refused, name, "expected a scene file, not a link");
    if (file < 0)
        throw Refused(Error::Kind::Failure, name,
                      std::string("cannot open the file: ") + std::strerror(errno));
    struct stat status {};
    if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode))
        throw Refused(ServeKind::Refused, name,
                      "expected a scene file, not a folder or another kind of file");
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0)
            throw Refused(Error::Kind::Failure, name,
                          std::string("cannot read the file: ") + std::strerror(errno));
        if (got == 0) return text;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > maxBodyBytes)
            throw Refused(Error::Kind::TooLarge, name,
                          "expected at most " + std::to_string(maxBodyBytes) + " bytes");
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
        throw Error::Expected(Error::Code::UnknownMember, {}, std::string("a ") + field + " of the node",
                              quib::Quote(name))
            .WithSource(std::string("request: \"") + field + "\"");
    }
    return **found;
}

/// The regular files of `folder` (not links) ending in one of `suffixes` that `check` does not refuse,
/// in order, and those whose names are not UTF-8 text, escaped (\xe9), which the page cannot name back
/// to the server.
std::pair<std::vector<std::string>, std::vector<std::string>> FolderFiles(
    const std::filesystem::path& folder, std::span<const std::string_view> suffixes,
    const std::function<void(const std::string&)>& check) {
    std::vector<std::string> names;
    std::vector<std::string> unopenable;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        const bool suffixed = std::any_of(suffixes.begin(), suffixes.end(),
                                          [&](std::string_view suffix) { return name.ends_with(suffix); });
        if (!suffixed || !entry.is_regular_file(error) || entry.is_symlink(error)) continue;
        if (!quib::IsUtf8(name)) {
            unopenable.push_back(quib::Printable(name));
            continue;
        }
        try {
            check(name);
        } catch (const Error&) {
            continue;
        }
        names.push_back(name);
    }
    if (error)
        throw Refused(Error::Kind::Failure, folder.string(), "cannot list the folder: " + error.message());
    std::sort(names.begin(), names.end());
    std::sort(unopenable.begin(), unopenable.end());
    return {std::move(names), std::move(unopenable)};
}

/// The folder of the scene file `scene` (empty: a new scene, in the working folder).
std::filesystem::path FolderOf(const std::string& scene) {
    const std::filesystem::path folder = std::filesystem::path(scene).parent_path();
    return folder.empty() ? "." : folder;
}

}  // namespace

Editor::Editor(Scene::ModulePointer module, const ServeOptions& options)
    : scenes(module, 4, FolderOf(options.scene).string()),
      page(options.page),
      folder(FolderOf(options.scene)),
      types(TypesReply(*module)) {
    const std::filesystem::path path = options.scene;
    folderDescriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderDescriptor < 0)
        throw Refused(Error::Kind::Failure, folder.string(),
                      std::string("cannot open the folder: ") + std::strerror(errno));
    if (options.scene.empty()) return;
    startedName = path.filename().string();
    SceneFileIn(folder, *startedName);  // a name the page can save to again
    try {
        Read(*startedName);  // a scene that does not build stops the server at once, as `render` would
    } catch (Error& error) {
        // Named as the user gave it.
        throw std::move(error.Source() == *startedName ? error.WithSource(options.scene) : error);
    }
    sessionFiles.insert(*startedName);
}

Editor::~Editor() {
    ::close(folderDescriptor);
}

quib::Json Editor::Read(const std::string& name) const {
    SceneFileIn(folder, name);
    const std::optional<std::string> bytes = FileBytes(folderDescriptor, name);
    if (!bytes)
        throw Refused(Error::Kind::NotFound, name,
                      "cannot read the file: there is no such file in the folder");
    const std::string revision = RevisionOf(*bytes);
    JsonDocument document = [&] {
        try {
            return JsonDocument::Parse(*bytes, sceneNesting);
        } catch (Error& error) {
            throw std::move(error.InSource(name));
        }
    }();
    // Named by its path, the files it names are read from its folder.
    Scene::FromDocument(document, folder == "." ? name : (folder / name).string(), scenes.Module());
    return {{"file", name}, {"scene", document.Value()}, {"revision", revision}};
}

quib::Json Editor::SceneFile(const std::string& file) const {
    if (!file.empty()) return Read(file);
    if (startedName) return Read(*startedName);
    return {{"file", nullptr},
            {"scene", JsonDocument::Parse(newScene, sceneNesting).Value()},
            {"revision", nullptr}};
}

quib::Json Editor::Files() const {
    static constexpr std::string_view sceneSuffix[] = {".json"};
    auto [names, unopenable] =
        FolderFiles(folder, sceneSuffix, [&](const std::string& name) { SceneFileIn(folder, name); });
    return {{"files", std::move(names)},
            {"unopenable", std::move(unopenable)},
            {"models", FolderFiles(folder, modelSuffixes, [&](const std::string& name) {
                           ModelFileIn(folder, name);
                       }).first}};
}

quib::Json Editor::Open(const RequestBody& body) {
    const std::string name = *body.String("file", false);
    quib::Json answer = Read(name);
    std::lock_guard lock(filesMutex);
    sessionFiles.insert(name);
    return answer;
}

quib::Json Editor::Save(const RequestBody& body) {
    const std::optional<std::string> asked = body.String("file", true);
    if (!asked && !startedName) {
        throw Refused(Error::Kind::BadInput, "request: \"file\"",
                      "this scene has no file yet; expected a file name");
    }
    const std::string name = asked ? *asked : *startedName;
    const std::optional<std::string> seen = body.String("revision", true);
    const bool force = body.Bool("force");
    const std::filesystem::path target = SceneFileIn(folder, name);
    scenes.SceneOf(body);  // nothing is written for a scene that does not build
    const std::string text = body.Scene().dump(2) + "\n";
    std::lock_guard lock(filesMutex);
    if (const std::optional<std::string> now = FileBytes(folderDescriptor, name)) {
        if (sessionFiles.count(name) == 0) {
            throw Refused(ServeKind::Refused, name,
                          "the file is there already and was not opened here; open it first to replace it");
        }
        const std::string revision = RevisionOf(*now);
        if (!force && seen != revision) {
            throw Refused(ServeKind::FileChanged, name,
                          seen ? "the file has changed since it was read here; it was not saved"
                               : "there is a file of that name already; it was not saved");
        }
    }
    // A link is refused above; one made since is replaced, never followed out of the folder.
    PendingFile file(target, PendingFile::Links::Replace);
    OutputBytes out(file.Path(), "the scene");
    out.Put({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    out.Close();
    file.Commit();
    sessionFiles.insert(name);
    return {{"file", name}, {"revision", RevisionOf(text)}};
}

quib::Json Editor::Check(const RequestBody& body) {
    scenes.SceneOf(body);
    return {{"ok", true}};
}

quib::Json Editor::Curve(const RequestBody& body) {
    const std::shared_ptr<const vantrel::Scene> scene = scenes.SceneOf(body);
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
    return {{"form", CurveFormName(curve)},
            {"inputRange", {curve.InputLow(), curve.InputHigh()}},
            {"x", x},
            {"channels", std::move(lines)},
            {"points", std::move(points)}};
}

quib::Json Editor::Gradient(const RequestBody& body) {
    const std::shared_ptr<const vantrel::Scene> scene = scenes.SceneOf(body);
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
