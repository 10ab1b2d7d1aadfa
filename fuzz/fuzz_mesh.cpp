// libFuzzer target: the model files a scene's mesh domain names, OBJ and glTF or GLB, read as the scene
// loader reads them, and each model that loads rasterised into a small texture with padding, so that
// hostile geometry (triangles far outside the texture, slivers, huge or tiny coordinates) meets the
// raster too.
//
// The input's first byte chooses the reader: below 128, OBJ; else glTF (or GLB, by its own signature).
//
// Promises checked beside the sanitizers': a model is loaded or refused with quib::Error, nothing else;
// a loaded model has at least one triangle, each corner within its vertices. (Its sample positions may
// be anything: coordinates near the largest doubles overflow, as the arithmetic says they should.)

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "quib/error.h"
#include "scene/mesh_building.h"
#include "scene/scene.h"
#include "tools/render/render_core.h"

namespace {

constexpr const char* sceneText = R"({ "format": "vantrel-scene/1", "output": "c",
    "nodes": [ { "id": "c", "type": "Curve3", "params": { "In": { "link": "@position" } } } ] })";

void Rasterise(const vantrel::MeshModel& model) {
    using namespace vantrel;
    for (const auto& triangle : model.triangles) {
        for (const std::uint32_t corner : triangle) {
            if (corner >= model.vertices.size()) fuzz::Broken("a corner beyond the model's vertices");
        }
    }
    static const Scene scene = Scene::Build(quib::Json::parse(sceneText), fuzz::TheModules());
    SampleDomain domain;
    domain.kind = SampleDomain::Kind::Mesh;
    domain.mesh = std::make_shared<const MeshModel>(model);
    domain.padding = 3;
    constexpr int side = 16;
    std::vector<double> positions(side * side * 3);
    SamplePositions({scene.Output(), domain, side, side, OutputType::Color, 1, 1, nullptr, {}},
                    positions.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    try {
        const vantrel::MeshModel model = data[0] < 128 ? vantrel::ReadObjModel(bytes, "model.obj")
                                                       : vantrel::ReadGltfModel(bytes, "model.gltf", "", 0);
        if (model.triangles.empty()) vantrel::fuzz::Broken("a model without triangles loaded");
        Rasterise(model);
    } catch (const quib::Error&) {
    }
    return 0;
}
