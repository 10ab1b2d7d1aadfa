#include "tools/serve/scene_requests.h"

#include <algorithm>
#include <optional>

#include "quib/error.h"
#include "quib/text.h"

namespace vantrel {

using quib::Error;

SceneCache::SceneCache(Scene::ModulePointer module, std::size_t kept, std::string folder)
    : module(std::move(module)), kept(kept), folder(std::move(folder)) {}

std::shared_ptr<const Scene> SceneCache::SceneOf(const RequestBody& body) {
    return Built(body.Scene());
}

std::shared_ptr<const Scene> SceneCache::Built(const quib::Json& scene) {
    std::string key = scene.dump();
    {
        std::lock_guard lock(mutex);
        const auto found =
            std::find_if(scenes.begin(), scenes.end(), [&](const auto& each) { return each.first == key; });
        if (found != scenes.end()) {
            scenes.splice(scenes.begin(), scenes, found);
            return found->second;
        }
    }
    std::shared_ptr<const Scene> built;
    try {
        built = std::make_shared<const Scene>(Scene::Build(scene, module, folder));
    } catch (Error& error) {
        throw std::move(error.InSource("scene"));
    }
    std::lock_guard lock(mutex);
    scenes.emplace_front(std::move(key), built);
    if (scenes.size() > kept) scenes.pop_back();
    return built;
}

Function& NodeOf(const Scene& scene, const RequestBody& body, bool nullable) {
    const std::optional<std::string> id = body.String("node", nullable);
    if (!id) return scene.Output();
    Function* node = scene.Node(*id);
    if (!node) {
        throw Error::Expected(Error::Code::UnknownNode, {}, "the id of a node of the scene", quib::Quote(*id))
            .WithSource("request: \"node\"");
    }
    return *node;
}

SampleDomain DomainOf(const Scene& scene, const RequestBody& body) {
    const std::optional<std::array<double, 4>> region = body.Region();
    if (!region) return scene.Domain();
    try {
        return scene.Domain().Part(*region);
    } catch (Error& error) {
        throw std::move(error.WithSource("request: \"region\""));
    }
}

}  // namespace vantrel
