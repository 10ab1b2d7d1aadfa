#pragma once
/// @file
/// What `vantrel serve` checks of a request before it does anything for it: who may send it (Host and
/// Origin), its JSON body and each field's type and bounds, and the file names it may read and write.

#include <array>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quib/error.h"
#include "quib/stored_form.h"
#include "scene/json_reader.h"
#include "scene/mesh_model.h"
#include "scene/output_type.h"

namespace vantrel {

/// What the server refuses or gives up for reasons of its own, beside the runtime's kinds of fault.
enum class ServeKind {
    Refused,      ///< what the asker may not have: a file outside the folder, another site's page (403)
    Superseded,   ///< a preview a newer one of the same job replaced, or that was given up (409)
    FileChanged,  ///< a save of a file that changed since the revision the page read (412)
    Busy,         ///< too many previews in flight: try again later (503)
    TimedOut,     ///< a preview stopped because it took longer than it may (504)
};

/// An error of the server's own kind, which a reply names as both its kind and its code: "refused",
/// "superseded", "file-changed", "busy" or "timed-out". Thrown and caught as a quib::Error (whose kind
/// is then BadInput for a refusal and Failure for the others), it keeps its own kind in the reply.
class ServeError : public quib::Error {
public:
    ServeError(ServeKind kind, std::string detail);
    ServeKind GetServeKind() const { return serveKind; }

private:
    ServeKind serveKind;
};

/// The HTTP status that answers an error of its kind: each status says one thing.
int StatusOf(const quib::Error& error);
/// The status of an error reply's "kind"; 500 for a kind it does not know.
int StatusOfKind(std::string_view kind);

/// An error as the server answers it: {"error": message, "kind", "code", and where known "pointer",
/// "expected", "found", "note", "line" and "column"}.
quib::Json ErrorReply(const quib::Error& error);

/// The largest request body, in bytes: a scene of thousands of nodes fits many times over.
inline constexpr std::size_t maxBodyBytes = std::size_t{4} << 20;
/// The largest side of an image the server renders, and the most pixels one may have.
inline constexpr int maxServedSide = 4096;
inline constexpr long maxServedPixels = 4096L * 2048L;

/// The names a request may reach the server by: `127.0.0.1` and `localhost`, or the name given to
/// --host, each with the port. The Host header must be one of them, so that a page of another site
/// that has its own name resolve to this machine (DNS rebinding) is refused; an Origin header, when
/// there is one, must be `http://` and one of them, so that a page of another site cannot drive the
/// server from the user's browser.
class AllowedHosts {
public:
    /// `host` is what --host gave, or empty.
    AllowedHosts(const std::string& host, int port);

    bool HostAllowed(const std::string& hostHeader) const;
    bool OriginAllowed(const std::string& origin) const;

private:
    std::vector<std::string> names;  ///< "name:port"
};

/// A request's JSON body, an object, read once, with readers for its fields that refuse a missing field
/// or one of the wrong type or outside its bounds (BadInput) with a message naming the field.
class RequestBody {
public:
    /// Reads the body. Refuses malformed JSON (by its line and column), a key given twice, and anything
    /// but an object.
    explicit RequestBody(std::string text);

    /// The field "scene", an object in the scene-file format, keys in the order they were sent.
    const quib::Json& Scene() const;
    /// A string field, or nothing when it is null or absent and `nullable`.
    std::optional<std::string> String(const char* key, bool nullable) const;
    /// A whole number of up to 64 bits.
    long long Integer(const char* key) const;
    /// A whole number from `low` to `high`.
    int Int(const char* key, int low, int high) const;
    /// A true or false field; false when it is null or absent.
    bool Bool(const char* key) const;
    /// Whether the field is there and not null.
    bool Has(const char* key) const;
    /// "type", a name `vantrel --type` takes.
    OutputType Type() const;
    /// "region", four finite numbers, or nothing when it is null or absent.
    std::optional<std::array<double, 4>> Region() const;
    /// "window", four whole numbers, or nothing when it is null or absent.
    std::optional<std::array<long long, 4>> Window() const;
    /// "model", the model a texture is rendered over: {"shape": one of `builtInShapes`} or {"file": a
    /// model file of the scene's folder (`ModelFileIn`), "uv": its UV set, 0 when absent}; nothing when
    /// it is null or absent.
    std::optional<MeshReference> Model() const;

private:
    const quib::Json& Field(const char* key) const;
    /// The field `key`, four values that each `accepts`, or nothing when it is null or absent.
    template <class T>
    std::optional<std::array<T, 4>> Four(const char* key, bool (*accepts)(const quib::Json&),
                                         const std::string& expected) const;
    /// Refuses the field: of `code` when it is there, of Code::Missing when it is not.
    [[noreturn]] void Refuse(const char* key, const std::string& expected,
                             quib::Error::Code code = quib::Error::Code::WrongType) const;

    JsonDocument body;
};

/// The scene file name `name` as the server may read or write it in `folder`: a plain file name (no
/// folder, no "..", not hidden) ending in ".json". Throws quib::Error (Refused) otherwise.
std::filesystem::path SceneFileIn(const std::filesystem::path& folder, const std::string& name);

/// The endings of the model files a mesh domain or the page's 3-D view may name.
/// The highest UV set (glTF's TEXCOORD_n) a request may name.
inline constexpr int maxUvSet = 31;

inline constexpr std::string_view modelSuffixes[] = {".obj", ".gltf", ".glb"};

/// The model file `name` as the server may read it in `folder`: a relative path of plain names (no
/// "..", none hidden) ending in one of `modelSuffixes`. Throws quib::Error (Refused) otherwise.
std::filesystem::path ModelFileIn(const std::filesystem::path& folder, const std::string& name);

/// The folders of the built page a GET may read from: the bundle's assets, and the data the page reads
/// (the presets and the recipes' scenes, copied from examples/presets and docs/nodes by the build, so
/// that a recipe's path from its list holds as in the source tree).
inline constexpr std::string_view pageFolders[] = {"/assets/", "/examples/presets/", "/docs/nodes/"};

/// Whether a GET of `urlPath` is for a file of the built page (and not the interface).
bool IsPagePath(std::string_view urlPath);

/// The file a GET of `urlPath` reads from the built page's folder `root`: "/" is index.html, and
/// "/assets/..." a file under root/assets (and so for each of `pageFolders`). Nothing when it names
/// no such regular file or steps out of the folder (by "..", by a symbolic link, by an encoded or
/// doubled separator).
std::optional<std::filesystem::path> StaticFile(const std::filesystem::path& root,
                                                const std::string& urlPath);

/// The Content-Type of a served page file, by its extension.
const char* ContentTypeOf(const std::filesystem::path& file);

}  // namespace vantrel
