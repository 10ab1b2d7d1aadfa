#pragma once
/// @file
/// `vantrel serve` as the executable reaches it: one function of a module of its own (vantrel-serve.so),
/// loaded only for this command, whose libraries would slow every other command's start.

#include <filesystem>
#include <iosfwd>
#include <string>

#include "scene/scene.h"

namespace vantrel {

struct ServeOptions {
    std::string scene;           ///< empty: a new scene, in the current folder
    int port = 8420;             ///< 0: any free port
    std::string host;            ///< the address to listen on; empty: 127.0.0.1 only
    std::filesystem::path page;  ///< the built page's folder
};

/// Serves the editor page and its interface over HTTP until the program is ended. Prints the address
/// to open on `out` once it listens. Throws quib::Error for a bad scene or options, or when it cannot
/// listen. The module exports it as `VantrelServe`.
using ServeFunction = void(const Scene::ModulePointer& module, const ServeOptions& options,
                           std::ostream& out);

}  // namespace vantrel
