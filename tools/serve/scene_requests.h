#pragma once
/// @file
/// The scene a request of the page sends, built once for all the requests of one edit, and the parts of
/// a request that name a node of it and a part of its domain.

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "scene/scene.h"
#include "tools/serve/serve_request.h"

namespace vantrel {

/// The last few scenes built from requests, by their JSON text: the check, curves, gradients and
/// previews of one edit share one graph, and a second tab has its own. Safe from any number of threads.
class SceneCache {
public:
    /// The files a scene names (a mesh domain's model) are read relative to `folder` (empty: the
    /// working folder).
    explicit SceneCache(Scene::ModulePointer module, std::size_t kept = 4, std::string folder = {});

    /// The scene the body's "scene" field describes; errors name it "scene".
    std::shared_ptr<const Scene> SceneOf(const RequestBody& body);
    /// The scene `scene` describes; errors name it "scene".
    std::shared_ptr<const Scene> Built(const quib::Json& scene);
    const Scene::ModulePointer& Module() const { return module; }

private:
    Scene::ModulePointer module;
    std::size_t kept;
    std::string folder;
    std::mutex mutex;
    std::list<std::pair<std::string, std::shared_ptr<const Scene>>> scenes;  ///< newest first
};

/// The node "node" names, or the scene's output for null when `nullable`.
Function& NodeOf(const Scene& scene, const RequestBody& body, bool nullable);

/// The scene's domain, or the part of it "region" picks.
SampleDomain DomainOf(const Scene& scene, const RequestBody& body);

}  // namespace vantrel
