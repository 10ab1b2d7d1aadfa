// libFuzzer target: the scene loader. The input is a scene file; the module is loaded once.
//
// Promises checked beside the sanitizers':
// - Scene::FromDocument builds the scene or throws quib::Error, nothing else;
// - a scene that loaded has a domain whose positions and image heights can be asked for, and its output
//   node evaluates in every output type at positions of that domain. Scenes of more than a few nodes are
//   not evaluated: the loader lets a sample take up to vantrel::maxSampleEvaluations node evaluations, a
//   few milliseconds, and the 81 evaluations here would take the fuzzer's time from everything else.

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "fuzz/fuzz_common.h"
#include "scene/scene.h"
#include "scene/scene_format.h"

namespace {

/// The most nodes of a scene that is evaluated.
constexpr std::size_t maxEvaluatedNodes = 4;

void EvaluateScene(const vantrel::Scene& scene, const quib::Json& root) {
    const quib::Json& nodes = root["nodes"];
    if (nodes.size() > maxEvaluatedNodes) return;
    for (const quib::Json& node : nodes)
        vantrel::fuzz::BoundIterations(*scene.Node(node["id"].get<std::string>()));

    const vantrel::SampleDomain& domain = scene.Domain();
    for (const int width : {1, 7, 512, 1 << 30})
        if (domain.HeightFor(width) < 1) vantrel::fuzz::Broken("an image height below 1");
    for (const double u : {0.0, 0.5, 1.0}) {
        for (const double v : {0.0, 0.25, 1.0})
            vantrel::fuzz::EvalEveryType(scene.Output(), domain.Position(u, v));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vantrel::fuzz::TheModules();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const vantrel::JsonDocument document = vantrel::JsonDocument::Parse(text, vantrel::sceneNesting);
        const vantrel::Scene scene =
            vantrel::Scene::FromDocument(document, "fuzz.json", vantrel::fuzz::TheModules());
        EvaluateScene(scene, document.Value());
    } catch (const quib::Error&) {
    }
    return 0;
}
