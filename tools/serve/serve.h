#pragma once
/// @file
/// `vantrel serve` as the executable reaches it: two functions of a module of its own (vantrel-serve.so),
/// loaded only for this command, whose libraries would slow every other command's start.

#include <chrono>
#include <filesystem>
#include <iosfwd>
#include <string>

#include "scene/scene.h"

namespace vantrel {

struct ServeOptions {
    std::string scene;  ///< empty: a new scene, in the current folder
    int port = 8420;    ///< 0: any free port
    std::string host;   ///< the address to listen on; empty: 127.0.0.1 only
    std::string token;  ///< the secret every request must carry; empty: `tokenFile`'s, or a new random one
    std::filesystem::path tokenFile;            ///< a file, its owner's alone, that holds the secret
    std::chrono::milliseconds timeLimit{5000};  ///< the longest a preview may take before it is stopped
    std::filesystem::path page;                 ///< the built page's folder
    std::filesystem::path program;              ///< the vantrel executable, which previews run in
};

/// Serves the editor page and its interface over HTTP until the program is ended. Prints the address
/// to open, with the secret, on `out` once it listens. Throws quib::Error for a bad scene or options, or
/// when it cannot listen. The module exports it as `VantrelServe`.
using ServeFunction = void(const Scene::ModulePointer& module, const ServeOptions& options,
                           std::ostream& out);

/// The process a preview runs in (`vantrel preview-worker`, which the server starts): reads requests
/// from standard input and answers each on standard output until the input ends. Returns the exit
/// status. The module exports it as `VantrelPreviewWorker`.
using PreviewWorkerFunction = int(const Scene::ModulePointer& module);

}  // namespace vantrel
