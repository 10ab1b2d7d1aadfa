#pragma once
// Scenes of the loaded module from a scene file's text, as the command line builds them from files.

#include <string>
#include <utility>

#include "scene/scene.h"
#include "scene/scene_format.h"
#include "tests/loaded_module.h"

namespace vantrel::test {

/// The scene of `text`; errors name `name` and where in the text the value at fault stands.
inline Scene SceneFromText(const std::string& text, const std::string& name) {
    try {
        return Scene::FromDocument(JsonDocument::Parse(text, sceneNesting), name, TheModules());
    } catch (quib::Error& error) {
        throw std::move(error.InSource(name));
    }
}

}  // namespace vantrel::test
