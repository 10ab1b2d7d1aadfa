// `vantrel serve`: the checks of a request, before any handler works on it.

#include "tools/serve_request.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <system_error>

#include "quib/text.h"
#include "scene/json_reader.h"

namespace vantrel {
namespace {

/// The most lists and objects a request holds one inside the other: a scene's own levels and a few
/// more, so that a scene nested too deeply is refused by the scene loader, with its own message.
constexpr std::size_t requestNesting = 16;

std::string Lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

AllowedHosts::AllowedHosts(const std::string& host, int port) {
    const std::string suffix = ":" + std::to_string(port);
    names = {"127.0.0.1" + suffix, "localhost" + suffix};
    if (!host.empty()) {
        // An IPv6 address is written in brackets before a port.
        const bool ipv6 = host.find(':') != std::string::npos;
        names.push_back(Lowercase(ipv6 ? "[" + host + "]" : host) + suffix);
    }
}

bool AllowedHosts::HostAllowed(const std::string& hostHeader) const {
    // Names are compared without case, as DNS compares them.
    return std::find(names.begin(), names.end(), Lowercase(hostHeader)) != names.end();
}

bool AllowedHosts::OriginAllowed(const std::string& origin) const {
    const std::string scheme = "http://";
    return origin.compare(0, scheme.size(), scheme) == 0 && HostAllowed(origin.substr(scheme.size()));
}

RequestBody::RequestBody(const std::string& text) {
    try {
        // The host runtime's strict reader first: it refuses a key given twice, which the library would
        // let the last win, and it bounds the nesting the library's reader then recurses through.
        ParseJson(text, requestNesting);
    } catch (const JsonError& error) {
        // A key given twice in the scene is the scene's fault, at its path there.
        const std::string scene = "scene";
        const std::string& where = error.Where();
        const bool inScene =
            error.AtPath() && where.compare(0, scene.size(), scene) == 0 &&
            (where.size() == scene.size() || where[scene.size()] == '.' || where[scene.size()] == '[');
        const std::size_t start = scene.size() + (where.size() > scene.size() && where[scene.size()] == '.');
        throw HttpError(status::badRequest, std::string("request body: ") + error.what(),
                        inScene ? where.substr(start) : "");
    }
    body = OrderedJson::parse(text);
    if (!body.is_object())
        throw HttpError(status::badRequest,
                        "request body: expected a JSON object, not " + quib::Excerpt(text));
}

const OrderedJson& RequestBody::Field(const char* key) const {
    static const OrderedJson missing;
    const auto found = body.find(key);
    return found == body.end() ? missing : *found;
}

void RequestBody::Refuse(const char* key, const std::string& expected) const {
    const auto found = body.find(key);
    throw HttpError(status::badRequest, std::string("request: \"") + key + "\": expected " + expected +
                                            (found == body.end() ? ", which is missing"
                                                                 : ", not " + quib::Excerpt(found->dump())));
}

const OrderedJson& RequestBody::Scene() const {
    const OrderedJson& scene = Field("scene");
    if (!scene.is_object()) Refuse("scene", "a scene, an object in the scene-file format");
    return scene;
}

std::string RequestBody::SceneText() const {
    return Scene().dump();
}

std::optional<std::string> RequestBody::String(const char* key, bool nullable) const {
    const OrderedJson& value = Field(key);
    if (value.is_null() && nullable) return std::nullopt;
    if (!value.is_string()) Refuse(key, nullable ? "a string or null" : "a string");
    return value.get<std::string>();
}

int RequestBody::Int(const char* key, int low, int high) const {
    const OrderedJson& value = Field(key);
    // The library keeps a whole number that does not fit a signed 64-bit integer as an unsigned one.
    const bool whole = value.is_number_integer() &&
                       !(value.is_number_unsigned() && value.get<std::uint64_t>() > std::uint64_t{INT64_MAX});
    if (!(whole && value.get<std::int64_t>() >= low && value.get<std::int64_t>() <= high)) {
        Refuse(key, "a whole number from " + std::to_string(low) + " to " + std::to_string(high));
    }
    return static_cast<int>(value.get<std::int64_t>());
}

OutputType RequestBody::Type() const {
    const OrderedJson& value = Field("type");
    const std::optional<OutputType> type =
        value.is_string() ? OutputTypeNamed(value.get<std::string>()) : std::nullopt;
    if (!type) Refuse("type", "one of " + OutputTypeNames(", "));
    return *type;
}

std::optional<std::array<double, 4>> RequestBody::Region() const {
    const OrderedJson& value = Field("region");
    if (value.is_null()) return std::nullopt;
    std::array<double, 4> corners{};
    const bool read = value.is_array() && value.size() == corners.size() &&
                      std::all_of(value.begin(), value.end(), [](const OrderedJson& corner) {
                          return corner.is_number() && std::isfinite(corner.get<double>());
                      });
    if (!read) Refuse("region", "null or four numbers [a, b, c, d]");
    for (std::size_t i = 0; i < corners.size(); ++i)
        corners[i] = value[i].get<double>();
    return corners;
}

std::filesystem::path SceneFileIn(const std::filesystem::path& folder, const std::string& name) {
    const std::string suffix = ".json";
    const bool plain = name.size() > suffix.size() && name.size() <= 255 && name.front() != '.' &&
                       name.find_first_of(std::string("/\\\0", 3)) == std::string::npos &&
                       name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (!plain) {
        throw HttpError(status::forbidden,
                        "\"" + quib::Excerpt(name) +
                            "\": expected a plain file name ending in .json, in the scene's folder");
    }
    return folder / name;
}

std::optional<std::filesystem::path> StaticFile(const std::filesystem::path& root,
                                                const std::string& urlPath) {
    const std::string assets = "/assets/";
    std::filesystem::path file;
    if (urlPath == "/") {
        file = root / "index.html";
    } else if (urlPath.compare(0, assets.size(), assets) == 0) {
        file = root / "assets";
        std::size_t start = assets.size();
        while (true) {
            const std::size_t end = urlPath.find('/', start);
            const std::string segment = urlPath.substr(start, end - start);
            if (segment.empty() || segment == "." || segment == ".." ||
                segment.find_first_of(std::string("\\\0", 2)) != std::string::npos)
                return std::nullopt;
            file /= segment;
            if (end == std::string::npos) break;
            start = end + 1;
        }
    } else {
        return std::nullopt;
    }
    // The file's real place, links followed, must still be inside the folder.
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(file, error);
    if (error) return std::nullopt;
    const std::filesystem::path realRoot = std::filesystem::canonical(root, error);
    if (error) return std::nullopt;
    const auto [rootEnd, fileAt] = std::mismatch(realRoot.begin(), realRoot.end(), real.begin(), real.end());
    if (rootEnd != realRoot.end() || !std::filesystem::is_regular_file(real, error)) return std::nullopt;
    return real;
}

const char* ContentTypeOf(const std::filesystem::path& file) {
    static constexpr std::pair<const char*, const char*> types[] = {{".html", "text/html; charset=utf-8"},
                                                                    {".js", "text/javascript; charset=utf-8"},
                                                                    {".css", "text/css; charset=utf-8"},
                                                                    {".json", "application/json"},
                                                                    {".map", "application/json"},
                                                                    {".svg", "image/svg+xml"},
                                                                    {".png", "image/png"},
                                                                    {".ico", "image/x-icon"},
                                                                    {".woff2", "font/woff2"},
                                                                    {".woff", "font/woff"}};
    const std::string extension = Lowercase(file.extension().string());
    for (const auto& [each, type] : types) {
        if (extension == each) return type;
    }
    return "application/octet-stream";
}

}  // namespace vantrel
