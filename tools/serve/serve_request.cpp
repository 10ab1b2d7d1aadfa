// `vantrel serve`: the checks of a request, before any handler works on it.

#include "tools/serve/serve_request.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <span>
#include <system_error>

#include "quib/text.h"
#include "scene/json_reader.h"

namespace vantrel {
namespace {

/// The most lists and objects a request holds one inside the other: a scene's own levels and a few
/// more, so that a scene nested too deeply is refused by the scene loader, with its own message.
constexpr std::size_t requestNesting = 16;

/// The body read as JSON, once. A fault in the scene it carries (a key given twice) is the scene's, at
/// its pointer there.
JsonDocument ParseBody(std::string text) {
    try {
        return JsonDocument::Parse(std::move(text), requestNesting);
    } catch (quib::Error& error) {
        const std::string scene = "/scene";
        const std::optional<std::string>& pointer = error.Pointer();
        if (pointer && pointer->compare(0, scene.size(), scene) == 0 &&
            (pointer->size() == scene.size() || (*pointer)[scene.size()] == '/')) {
            // Its place in the body's text means nothing to the page, which sent a value, not text.
            error.AtPointer(pointer->substr(scene.size())).AtText(0, 0).WithSource("scene");
        } else {
            error.WithSource("request body");
        }
        throw;
    }
}

std::string Lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

AllowedHosts::AllowedHosts(const std::string& host, int port) {
    const std::string suffix = ":" + std::to_string(port);
    // An IPv6 address is written in brackets before a port.
    const auto add = [&](const std::string& name) {
        names.push_back(Lowercase(name.find(':') != std::string::npos ? "[" + name + "]" : name) + suffix);
    };
    add("127.0.0.1");
    add("localhost");
    if (host.empty()) return;
    add(host);
    if (host != "0.0.0.0" && host != "::") return;
    // Serving every address of the machine: each of them, and its name, may be what a browser asks for.
    char name[256] = "";
    if (::gethostname(name, sizeof name - 1) == 0) add(name);
    ifaddrs* addresses = nullptr;
    if (::getifaddrs(&addresses) != 0) return;
    for (const ifaddrs* each = addresses; each != nullptr; each = each->ifa_next) {
        if (each->ifa_addr == nullptr) continue;
        const int family = each->ifa_addr->sa_family;
        if (family != AF_INET && (family != AF_INET6 || host != "::")) continue;
        char text[INET6_ADDRSTRLEN] = "";
        const void* address =
            family == AF_INET
                ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(each->ifa_addr)->sin_addr)
                : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(each->ifa_addr)->sin6_addr);
        if (::inet_ntop(family, address, text, sizeof text) != nullptr) add(text);
    }
    ::freeifaddrs(addresses);
}

bool AllowedHosts::HostAllowed(const std::string& hostHeader) const {
    // Names are compared without case, as DNS compares them.
    return std::find(names.begin(), names.end(), Lowercase(hostHeader)) != names.end();
}

bool AllowedHosts::OriginAllowed(const std::string& origin) const {
    const std::string scheme = "http://";
    return origin.compare(0, scheme.size(), scheme) == 0 && HostAllowed(origin.substr(scheme.size()));
}

namespace {

constexpr const char* serveKindNames[] = {"refused", "superseded", "file-changed", "busy", "timed-out"};

struct KindStatus {
    std::string_view kind;
    int status;
};

constexpr KindStatus statuses[] = {{"bad-input", 400},  {"refused", 403},      {"not-found", 404},
                                   {"superseded", 409}, {"file-changed", 412}, {"too-large", 413},
                                   {"busy", 503},       {"timed-out", 504}};

/// The name of an error's kind in a reply: the server's own, or the runtime's.
const char* KindOf(const quib::Error& error) {
    if (const auto* own = dynamic_cast<const ServeError*>(&error))
        return serveKindNames[static_cast<int>(own->GetServeKind())];
    return quib::KindName(error.GetKind());
}

}  // namespace

ServeError::ServeError(ServeKind kind, std::string detail)
    : quib::Error(kind == ServeKind::Refused ? Kind::BadInput : Kind::Failure, std::move(detail)),
      serveKind(kind) {}

int StatusOfKind(std::string_view kind) {
    for (const KindStatus& each : statuses) {
        if (each.kind == kind) return each.status;
    }
    return 500;
}

int StatusOf(const quib::Error& error) {
    return StatusOfKind(KindOf(error));
}

quib::Json ErrorReply(const quib::Error& error) {
    const char* kind = KindOf(error);
    const bool own = dynamic_cast<const ServeError*>(&error) != nullptr;
    quib::Json reply = {
        {"error", error.what()}, {"kind", kind}, {"code", own ? kind : quib::CodeName(error.GetCode())}};
    if (error.Pointer()) reply["pointer"] = *error.Pointer();
    if (!error.ExpectedText().empty()) reply["expected"] = error.ExpectedText();
    if (!error.Found().empty()) reply["found"] = error.Found();
    if (!error.Note().empty()) reply["note"] = error.Note();
    if (error.Line() > 0) {
        reply["line"] = error.Line();
        reply["column"] = error.Column();
    }
    return reply;
}

RequestBody::RequestBody(std::string text) : body(ParseBody(std::move(text))) {
    if (!body.Value().is_object()) {
        throw quib::Error::Expected(quib::Error::Code::WrongType, {}, "a JSON object",
                                    quib::JsonExcerpt(body.Value()))
            .WithSource("request body");
    }
}

const quib::Json& RequestBody::Field(const char* key) const {
    static const quib::Json missing;
    const auto found = body.Value().find(key);
    return found == body.Value().end() ? missing : *found;
}

void RequestBody::Refuse(const char* key, const std::string& expected, quib::Error::Code code) const {
    const auto found = body.Value().find(key);
    const bool missing = found == body.Value().end();
    throw quib::Error::Expected(missing ? quib::Error::Code::Missing : code, {},
                                missing ? expected + ", which is missing" : expected,
                                missing ? "" : quib::JsonExcerpt(*found))
        .WithSource("request: \"" + std::string(key) + "\"");
}

const quib::Json& RequestBody::Scene() const {
    const quib::Json& scene = Field("scene");
    if (!scene.is_object()) Refuse("scene", "a scene, an object in the scene-file format");
    return scene;
}

std::optional<std::string> RequestBody::String(const char* key, bool nullable) const {
    const quib::Json& value = Field(key);
    if (value.is_null() && nullable) return std::nullopt;
    if (!value.is_string()) Refuse(key, nullable ? "a string or null" : "a string");
    return value.get<std::string>();
}

long long RequestBody::Integer(const char* key) const {
    const quib::Json& value = Field(key);
    if (!quib::IsWholeNumber(value)) Refuse(key, "a whole number", quib::Error::Code::WrongType);
    return value.get<std::int64_t>();
}

int RequestBody::Int(const char* key, int low, int high) const {
    const bool whole = Field(key).is_number_integer();
    const long long value = whole ? Integer(key) : low - 1LL;
    if (value < low || value > high) {
        Refuse(key, "a whole number from " + std::to_string(low) + " to " + std::to_string(high),
               whole ? quib::Error::Code::OutOfRange : quib::Error::Code::WrongType);
    }
    return static_cast<int>(value);
}

bool RequestBody::Bool(const char* key) const {
    const quib::Json& value = Field(key);
    if (value.is_null()) return false;
    if (!value.is_boolean()) Refuse(key, "true, false or null");
    return value.get<bool>();
}

bool RequestBody::Has(const char* key) const {
    return !Field(key).is_null();
}

OutputType RequestBody::Type() const {
    const quib::Json& value = Field("type");
    const std::optional<OutputType> type =
        value.is_string() ? OutputTypeNamed(value.get<std::string>()) : std::nullopt;
    if (!type)
        Refuse("type", "one of " + OutputTypeNames(", "),
               value.is_string() ? quib::Error::Code::BadValue : quib::Error::Code::WrongType);
    return *type;
}

template <class T>
std::optional<std::array<T, 4>> RequestBody::Four(const char* key, bool (*accepts)(const quib::Json&),
                                                  const std::string& expected) const {
    const quib::Json& value = Field(key);
    if (value.is_null()) return std::nullopt;
    if (!value.is_array() || value.size() != 4 || !std::all_of(value.begin(), value.end(), accepts))
        Refuse(key, expected);
    return std::array<T, 4>{value[0].get<T>(), value[1].get<T>(), value[2].get<T>(), value[3].get<T>()};
}

std::optional<std::array<double, 4>> RequestBody::Region() const {
    return Four<double>(
        "region", [](const quib::Json& x) { return x.is_number() && std::isfinite(x.get<double>()); },
        "null or four numbers [a, b, c, d]");
}

std::optional<std::array<long long, 4>> RequestBody::Window() const {
    return Four<long long>("window", quib::IsWholeNumber, "null or four whole numbers [x, y, w, h]");
}

std::optional<MeshReference> RequestBody::Model() const {
    const quib::Json& value = Field("model");
    if (value.is_null()) return std::nullopt;
    const std::string expected =
        "null, {\"shape\": a built-in shape} or {\"file\": a model file of the "
        "scene's folder, \"uv\": its UV set from 0 to " +
        std::to_string(maxUvSet) + "}";
    if (!value.is_object()) Refuse("model", expected);
    MeshReference reference;
    bool uvGiven = false;
    for (const auto& [key, member] : value.items()) {
        if (key == "shape" && member.is_string()) {
            reference.shape = member.get<std::string>();
        } else if (key == "file" && member.is_string()) {
            reference.file = member.get<std::string>();
        } else if (key == "uv" && member.is_number_integer() && member.get<std::int64_t>() >= 0 &&
                   member.get<std::int64_t>() <= maxUvSet) {
            reference.uvSet = member.get<int>();
            uvGiven = true;
        } else {
            Refuse("model", expected, quib::Error::Code::BadValue);
        }
    }
    if (reference.shape.empty() == reference.file.empty() || (uvGiven && reference.file.empty()))
        Refuse("model", expected, quib::Error::Code::BadValue);
    if (!reference.shape.empty() &&
        std::find(builtInShapes.begin(), builtInShapes.end(), reference.shape) == builtInShapes.end()) {
        std::string shapes;
        for (const std::string_view shape : builtInShapes)
            shapes += (shapes.empty() ? "" : ", ") + std::string(shape);
        Refuse("model", "a shape of " + shapes, quib::Error::Code::BadValue);
    }
    if (!reference.file.empty()) ModelFileIn(".", reference.file);
    return reference;
}

namespace {

/// The refusal of the file name `name`, which is not `expected`.
ServeError ServeRefusal(const std::string& expected, const std::string& name) {
    ServeError refusal(ServeKind::Refused, "expected " + expected);
    refusal.WithSource(quib::Quote(name));
    return refusal;
}

/// `name` as a file of `folder` the server may read: a plain file name (no folder, no "..", not hidden)
/// of UTF-8 text ending in one of `suffixes`. Throws quib::Error (Refused) otherwise.
std::filesystem::path PlainFileIn(const std::filesystem::path& folder, const std::string& name,
                                  std::span<const std::string_view> suffixes, const std::string& expected) {
    const bool plain = name.size() <= 255 && !name.empty() && name.front() != '.' &&
                       name.find_first_of(std::string("/\\\0", 3)) == std::string::npos &&
                       std::any_of(suffixes.begin(), suffixes.end(), [&](std::string_view suffix) {
                           return name.size() > suffix.size() && name.ends_with(suffix);
                       });
    if (!plain) throw ServeRefusal(expected, name);
    if (!quib::IsUtf8(name)) {
        throw ServeRefusal("a file name of UTF-8 text, which the page can show and send back", name);
    }
    return folder / name;
}

}  // namespace

std::filesystem::path SceneFileIn(const std::filesystem::path& folder, const std::string& name) {
    static constexpr std::string_view suffix[] = {".json"};
    return PlainFileIn(folder, name, suffix, "a plain file name ending in .json, in the scene's folder");
}

std::filesystem::path ModelFileIn(const std::filesystem::path& folder, const std::string& name) {
    const std::string expected =
        "a path of plain names (\"models/helmet.obj\") ending in .obj, .gltf or .glb, in the scene's folder";
    std::size_t start = 0;
    for (std::size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', start)) {
        // Each folder on the way: a plain name, neither "." nor "..", nor hidden.
        const std::string part = name.substr(start, slash - start);
        if (part.empty() || part.size() > 255 || part.front() == '.' ||
            part.find_first_of(std::string("\\\0", 2)) != std::string::npos)
            throw ServeRefusal(expected, name);
        start = slash + 1;
    }
    PlainFileIn(folder, name.substr(start), modelSuffixes, expected);
    if (!quib::IsUtf8(name)) {
        throw ServeRefusal("a file name of UTF-8 text, which the page can show and send back", name);
    }
    return folder / name;
}

bool IsPagePath(std::string_view urlPath) {
    return urlPath == "/" ||
           std::any_of(std::begin(pageFolders), std::end(pageFolders),
                       [&](std::string_view folder) { return urlPath.starts_with(folder); });
}

std::optional<std::filesystem::path> StaticFile(const std::filesystem::path& root,
                                                const std::string& urlPath) {
    std::filesystem::path file;
    const auto folder = std::find_if(std::begin(pageFolders), std::end(pageFolders),
                                     [&](std::string_view each) { return urlPath.starts_with(each); });
    if (urlPath == "/") {
        file = root / "index.html";
    } else if (folder != std::end(pageFolders)) {
        file = root / std::filesystem::path(std::string(folder->substr(1)));
        std::size_t start = folder->size();
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
