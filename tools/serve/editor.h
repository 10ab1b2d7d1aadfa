#pragma once
/// @file
/// What `vantrel serve` does for the page, apart from HTTP: the folder it reads and writes scenes in,
/// the scenes built for the page's requests, and an answer to each request. Every number the page
/// shows comes from here: scenes are built by the scene layer, and values, curves, gradients and images
/// are the module's own, through the same code as `eval` and `render`.

#include <cstddef>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "quib/stored_form.h"
#include "scene/scene.h"
#include "tools/serve/render_gate.h"
#include "tools/serve/serve.h"
#include "tools/serve/serve_request.h"

namespace vantrel {

/// One editing session: a handler for each of the page's requests. Each throws quib::Error for a
/// request it refuses, of the kind that decides the HTTP status. Safe from any number of threads.
class Editor {
public:
    /// Reads the scene the server starts with. Throws quib::Error when it cannot be used.
    Editor(Scene::ModulePointer module, const ServeOptions& options);

    /// `vantrel list --json`, as text.
    const std::string& Types() const { return types; }
    /// The scene the server started with, and its file's name (null for a new scene).
    quib::Json StartedScene() const;
    quib::Json Files() const;
    quib::Json Open(const RequestBody& body);
    quib::Json Save(const RequestBody& body);
    /// Whether the scene the body sends builds: refused as the loader refuses it.
    quib::Json Check(const RequestBody& body) const;
    quib::Json Value(const RequestBody& body) const;
    quib::Json Curve(const RequestBody& body) const;
    quib::Json Gradient(const RequestBody& body) const;
    /// The PNG of the preview the body asks for.
    std::string Preview(const RequestBody& body);
    /// The file of the built page a GET of `urlPath` reads, if there is one.
    std::optional<std::filesystem::path> PageFile(const std::string& urlPath) const;

private:
    /// The scene the body sends, built once for all the requests of one edit: the last few built are
    /// kept, by their JSON text.
    std::shared_ptr<const Scene> SceneOf(const RequestBody& body) const;

    Scene::ModulePointer module;
    std::filesystem::path page;
    std::filesystem::path folder = ".";
    std::optional<std::string> startedName;  ///< the scene file's name in `folder`, if it was given one
    quib::Json startedScene;
    std::string types;

    /// The files of the folder this server may replace: the one it started with, those it opened and
    /// those it created. Any other file already there is the user's, and left alone.
    mutable std::mutex filesMutex;
    std::set<std::string> sessionFiles;

    mutable std::mutex scenesMutex;
    mutable std::list<std::pair<std::string, std::shared_ptr<const Scene>>> scenes;  ///< newest first

    RenderGate renders;
};

}  // namespace vantrel
