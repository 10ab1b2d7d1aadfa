#pragma once
/// @file
/// What `vantrel serve` does for the page in its own process, apart from HTTP: the folder it reads and
/// writes scenes in, with each file's revision so that a save never overwrites a change it has not
/// seen, and the answers that take no node evaluation (checks, curves, gradients). Previews run in
/// processes of their own (tools/serve/preview_pool.h).

#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "quib/stored_form.h"
#include "scene/scene.h"
#include "tools/serve/scene_requests.h"
#include "tools/serve/serve.h"
#include "tools/serve/serve_request.h"

namespace vantrel {

/// One editing session: a handler for each of the page's requests. Each throws quib::Error for a
/// request it refuses, of the kind that decides the HTTP status. Safe from any number of threads.
class Editor {
public:
    /// Reads the scene the server starts with. Throws quib::Error when it cannot be used.
    Editor(Scene::ModulePointer module, const ServeOptions& options);
    ~Editor();
    Editor(const Editor&) = delete;
    Editor& operator=(const Editor&) = delete;

    /// `vantrel list --json`, as text.
    const std::string& Types() const { return types; }
    /// {"file", "scene", "revision"}: the file `file` names (the one the server started with, when
    /// empty) as it is on the disk now, or the new scene when the server started with none.
    quib::Json SceneFile(const std::string& file) const;
    /// {"files": the scene files the page may open, "unopenable": those whose names are not UTF-8
    /// text, escaped (\xe9), which the page cannot name back to the server, "models": the model files
    /// the page's 3-D view may show}.
    quib::Json Files() const;
    quib::Json Open(const RequestBody& body);
    /// Writes the body's scene to "file" (null: the one the server started with), unless the file
    /// changed since the "revision" the page read (Conflict, with the revision it has now) or was not
    /// opened here. Durable: the file, then the folder, reach the disk before it answers.
    quib::Json Save(const RequestBody& body);
    /// Whether the scene the body sends builds: refused as the loader refuses it.
    quib::Json Check(const RequestBody& body);
    quib::Json Curve(const RequestBody& body);
    quib::Json Gradient(const RequestBody& body);
    /// The folder of the scene files, and of the models they name.
    const std::filesystem::path& Folder() const { return folder; }
    /// The file of the built page a GET of `urlPath` reads, if there is one.
    std::optional<std::filesystem::path> PageFile(const std::string& urlPath) const;

private:
    /// {"file", "scene", "revision"} of the scene file `name` of the folder, checked as render checks it.
    quib::Json Read(const std::string& name) const;

    SceneCache scenes;
    std::filesystem::path page;
    std::filesystem::path folder;
    int folderDescriptor = -1;               ///< `folder`, open, which scene files are opened from
    std::optional<std::string> startedName;  ///< the scene file's name in `folder`, if it was given one

    /// The files of the folder this server may replace: the one it started with, those it opened and
    /// those it created. Any other file already there is the user's, and left alone.
    mutable std::mutex filesMutex;
    std::set<std::string> sessionFiles;

    std::string types;
};

}  // namespace vantrel
