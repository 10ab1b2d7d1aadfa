// Binary glTF files of models, read back by tinygltf: `GlbOf` for models made by hand, whose normals are
// worked out here, and `vantrel bake` run as a user runs it, whose texture is the PNG `vantrel render`
// writes of the same mesh domain, byte for byte, and whose refusals leave nothing behind.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#include <tiny_gltf.h>

#include "scene/mesh_model.h"
#include "tests/vantrel_run.h"
#include "tools/image/glb_file.h"

namespace vantrel::test {
namespace {

/// Keeps an image's bytes as they are in the file: nothing here decodes PNG.
bool KeepBytes(tinygltf::Image* image, int, std::string*, std::string*, int, int, const unsigned char* bytes,
               int size, void*) {
    image->image.assign(bytes, bytes + size);
    return true;
}

/// The model of a .glb file's bytes, read as a viewer reads it; fails the test when it is not one.
tinygltf::Model ReadGlb(const std::string& glb) {
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(KeepBytes, nullptr);
    tinygltf::Model model;
    std::string error, warning;
    EXPECT_TRUE(loader.LoadBinaryFromMemory(&model, &error, &warning,
                                            reinterpret_cast<const unsigned char*>(glb.data()),
                                            static_cast<unsigned int>(glb.size())))
        << error << warning;
    return model;
}

/// The values of accessor `index` as T, each its components in a row.
template <class T>
std::vector<T> Values(const tinygltf::Model& model, int index) {
    const tinygltf::Accessor& accessor = model.accessors.at(index);
    const tinygltf::BufferView& view = model.bufferViews.at(accessor.bufferView);
    const int components = tinygltf::GetNumComponentsInType(accessor.type);
    std::vector<T> values(accessor.count * components);
    EXPECT_EQ(view.byteLength, values.size() * sizeof(T));
    std::memcpy(values.data(),
                model.buffers.at(view.buffer).data.data() + view.byteOffset + accessor.byteOffset,
                values.size() * sizeof(T));
    return values;
}

/// The one primitive of the file's one mesh.
const tinygltf::Primitive& Primitive(const tinygltf::Model& model) {
    EXPECT_EQ(model.meshes.size(), 1u);
    EXPECT_EQ(model.meshes.at(0).primitives.size(), 1u);
    return model.meshes.at(0).primitives.at(0);
}

/// Checks that the file holds `expected`'s triangles, positions and texture places as 32-bit floats and
/// glTF's bounds of the positions, and returns the normals.
std::vector<float> ExpectModel(const tinygltf::Model& model, const MeshModel& expected) {
    const tinygltf::Primitive& primitive = Primitive(model);
    EXPECT_EQ(primitive.mode, TINYGLTF_MODE_TRIANGLES);
    const std::vector<float> positions = Values<float>(model, primitive.attributes.at("POSITION"));
    const std::vector<float> uvs = Values<float>(model, primitive.attributes.at("TEXCOORD_0"));
    const std::vector<std::uint32_t> indices = Values<std::uint32_t>(model, primitive.indices);
    EXPECT_EQ(model.accessors.at(primitive.indices).componentType, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT);
    std::vector<float> wantPositions, wantUvs, low(3, INFINITY), high(3, -INFINITY);
    for (const MeshModel::Vertex& vertex : expected.vertices) {
        for (const double coordinate : {vertex.position.x, vertex.position.y, vertex.position.z}) {
            const std::size_t axis = wantPositions.size() % 3;
            wantPositions.push_back(static_cast<float>(coordinate));
            low[axis] = std::min(low[axis], wantPositions.back());
            high[axis] = std::max(high[axis], wantPositions.back());
        }
        wantUvs.insert(wantUvs.end(), {static_cast<float>(vertex.uv.x), static_cast<float>(vertex.uv.y)});
    }
    std::vector<std::uint32_t> wantIndices;
    for (const auto& corners : expected.triangles)
        wantIndices.insert(wantIndices.end(), corners.begin(), corners.end());
    EXPECT_EQ(positions, wantPositions);
    EXPECT_EQ(uvs, wantUvs);
    EXPECT_EQ(indices, wantIndices);
    const tinygltf::Accessor& bounds = model.accessors.at(primitive.attributes.at("POSITION"));
    EXPECT_EQ(bounds.minValues, std::vector<double>(low.begin(), low.end()));
    EXPECT_EQ(bounds.maxValues, std::vector<double>(high.begin(), high.end()));
    EXPECT_EQ(model.asset.generator, "vantrel");
    return Values<float>(model, primitive.attributes.at("NORMAL"));
}

/// The texture's PNG bytes as the file embeds them, and its material as a painted surface; empty when
/// the primitive has no material.
std::string Texture(const tinygltf::Model& model) {
    const int material = Primitive(model).material;
    if (material < 0) {
        EXPECT_TRUE(model.images.empty());
        return {};
    }
    const tinygltf::PbrMetallicRoughness& pbr = model.materials.at(material).pbrMetallicRoughness;
    EXPECT_EQ(pbr.metallicFactor, 0.0);
    EXPECT_EQ(pbr.roughnessFactor, 0.8);
    const tinygltf::Texture& texture = model.textures.at(pbr.baseColorTexture.index);
    const tinygltf::Sampler& sampler = model.samplers.at(texture.sampler);
    EXPECT_EQ(sampler.magFilter, TINYGLTF_TEXTURE_FILTER_LINEAR);
    EXPECT_EQ(sampler.wrapS, TINYGLTF_TEXTURE_WRAP_REPEAT);
    EXPECT_EQ(sampler.wrapT, TINYGLTF_TEXTURE_WRAP_REPEAT);
    const tinygltf::Image& image = model.images.at(texture.source);
    EXPECT_EQ(image.mimeType, "image/png");
    EXPECT_TRUE(image.uri.empty());
    EXPECT_GE(image.bufferView, 0);
    return std::string(image.image.begin(), image.image.end());
}

MeshModel Model(std::vector<MeshModel::Vertex> vertices,
                std::vector<std::array<std::uint32_t, 3>> triangles) {
    MeshModel model;
    model.vertices = std::move(vertices);
    model.triangles = std::move(triangles);
    model.name = "by hand";
    return model;
}

struct GlbCase {
    const char* what;
    MeshModel model;
    std::vector<float> normals;  ///< worked out by hand
    std::string png;
};

// A square; a fold of a triangle in the xy-plane of area 2 and one in the xz-plane of area 1 sharing an
// edge, whose shared corners' normal is (0, 1, 2) / sqrt(5) by area and would be (0, 1, 1) / sqrt(2) by
// triangle; two triangles facing opposite ways on the same corners, whose normals cancel; positions
// and places that are not floats. With a texture (any bytes: they pass through) and without.
TEST(GlbOf, HoldsTheModelItsNormalsByAreaAndItsTexture) {
    const float fold = static_cast<float>(1 / std::sqrt(5.0));
    const GlbCase cases[] = {
        {"square",
         Model({{{0, 0, 0}, {0, 1}}, {{1, 0, 0}, {1, 1}}, {{1, 1, 0}, {1, 0}}, {{0, 1, 0}, {0, 0}}},
               {{0, 1, 2}, {0, 2, 3}}),
         {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1},
         "\x89PNG not really"},
        {"fold",
         Model({{{0, 0, 0}, {0, 0}}, {{2, 0, 0}, {1, 0}}, {{0, 2, 0}, {0, 1}}, {{0, 0, -1}, {1, 1}}},
               {{0, 1, 2}, {0, 1, 3}}),
         {0, fold, 2 * fold, 0, fold, 2 * fold, 0, 0, 1, 0, 1, 0},
         {}},
        {"opposite",
         Model({{{0, 0, 0}, {0, 0}}, {{1, 0, 0}, {1, 0}}, {{0, 1, 0}, {0, 1}}}, {{0, 1, 2}, {0, 2, 1}}),
         {0, 0, 1, 0, 0, 1, 0, 0, 1},
         std::string("\0\1\2", 3)},
        {"not floats",
         Model(
             {{{0.1, -1e-3, 1e30}, {1.0 / 3, 2.0 / 3}}, {{0.1, 1, 1e30}, {0, 0}}, {{-0.3, 0, 1e30}, {1, 0}}},
             {{0, 1, 2}}),
         {0, 0, 1, 0, 0, 1, 0, 0, 1},
         "x"},
    };
    for (const GlbCase& each : cases) {
        SCOPED_TRACE(each.what);
        const tinygltf::Model model = ReadGlb(GlbOf(each.model, each.png));
        EXPECT_EQ(ExpectModel(model, each.model), each.normals);
        EXPECT_EQ(Texture(model), each.png);
    }
}

// A square of two triangles, its v turned over as an OBJ file's is.
const char* const squareObj =
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
    "f 1/1 2/2 3/3\nf 1/1 3/3 4/4\n";

/// A scene of W distortion (colour with alpha, or its colour, or a real) on `domain`.
std::string SceneOn(const std::string& domain, const std::string& type = "color") {
    return R"({ "format": "vantrel-scene/1", "output": "w", "output_type": ")" + type + R"(",
        "nodes": [ { "id": "w", "type": "W Distortion", "params": { "Position": { "link": "@position" } } } ],
        "domain": )" +
           domain + " }";
}

class Bake : public VantrelTest {};

struct BakeCase {
    const char* what;
    std::string scene;                 ///< baked
    std::string mesh;                  ///< --mesh, when not empty
    std::vector<std::string> options;  ///< of both bake and render
    std::string rendered;              ///< the scene whose render is the texture
    MeshReference model;               ///< what the file holds, read from `work`
};

// The scene's mesh domain, a shape or a file; --mesh in place of a plane, of a mesh domain, by file;
// colour, colour with alpha and a real (a grey texture); sub-samples.
TEST_F(Bake, TheFileIsTheModelWithTheTextureRenderWrites) {
    Write("square.obj", squareObj);
    const std::string cube = R"({"kind": "mesh", "shape": "cube"})";
    const std::string square = R"({"kind": "mesh", "file": "square.obj"})";
    const BakeCase cases[] = {
        {"shape", SceneOn(cube), "", {}, SceneOn(cube), {"", "cube", 0}},
        {"file", SceneOn(square, "colora"), "", {}, SceneOn(square, "colora"), {"square.obj", "", 0}},
        {"double", SceneOn(cube, "double"), "", {"--samples", "2"}, SceneOn(cube, "double"), {"", "cube", 0}},
        {"--mesh shape",
         SceneOn(R"({"kind": "plane"})"),
         "torus",
         {},
         SceneOn(R"({"kind": "mesh", "shape": "torus"})"),
         {"", "torus", 0}},
        {"--mesh file", SceneOn(cube), "square.obj", {}, SceneOn(square), {"square.obj", "", 0}},
    };
    for (const BakeCase& each : cases) {
        SCOPED_TRACE(each.what);
        Write("baked.json", each.scene);
        Write("rendered.json", each.rendered);
        std::vector<std::string> bake = {"bake", "baked.json", "-o", "out.glb", "--size", "48"};
        std::vector<std::string> render = {"render", "rendered.json", "-o", "texture.png", "--size", "48"};
        for (std::vector<std::string>* arguments : {&bake, &render})
            arguments->insert(arguments->end(), each.options.begin(), each.options.end());
        if (!each.mesh.empty()) bake.insert(bake.end(), {"--mesh", each.mesh});
        for (const auto& arguments : {bake, render}) {
            const RunResult run = Vantrel(arguments);
            ASSERT_EQ(run.status, 0) << run.err;
        }
        const tinygltf::Model model = ReadGlb(ReadFile(work / "out.glb"));
        ExpectModel(model, *LoadMeshModel(each.model, work.string()));
        EXPECT_EQ(Texture(model), ReadFile(work / "texture.png"));
    }
}

struct RefusalCase {
    std::vector<std::string> arguments;  ///< after "bake"
    int status;
    std::vector<std::string> said;  ///< in the message
};

// No model to bake on, a model that is not there or not a model, an output that is no .glb or cannot be
// made, a texture of no size or too large: each said, and out.glb as it was, with nothing beside it.
TEST_F(Bake, RefusalsSayWhyAndLeaveNothing) {
    Write("plane.json", SceneOn(R"({"kind": "plane"})"));
    Write("cube.json", SceneOn(R"({"kind": "mesh", "shape": "cube"})"));
    Write("broken.obj", "v 0 0 0\nf 1 2 3\n");
    Write("out.glb", "old");
    const RefusalCase cases[] = {
        {{"plane.json", "-o", "out.glb"}, 2, {"plane.json", "/domain", "mesh", "--mesh"}},
        {{"plane.json", "-o", "out.glb", "--mesh", "cone"},
         2,
         {"--mesh", "\"cone\"", "torus", "no such file"}},
        {{"plane.json", "-o", "out.glb", "--mesh", "broken.obj"}, 2, {"broken.obj"}},
        {{"cube.json", "-o", "out.gltf"}, 2, {"out.gltf", ".glb"}},
        {{"cube.json", "-o", "no/out.glb"}, 1, {"no/out.glb"}},
        {{"cube.json", "-o", "out.glb", "--size", "0"}, 2, {"--size", "1 to 16384"}},
        {{"cube.json", "-o", "out.glb", "--size", "16385"}, 2, {"--size", "1 to 16384"}},
        {{"cube.json", "-o", "out.glb", "--size", "64x64"}, 2, {"--size", "64x64"}},
    };
    const std::vector<std::string> before = WorkFiles();
    for (const RefusalCase& each : cases) {
        std::vector<std::string> arguments = {"bake"};
        arguments.insert(arguments.end(), each.arguments.begin(), each.arguments.end());
        SCOPED_TRACE(::testing::PrintToString(arguments));
        const RunResult run = Vantrel(arguments);
        EXPECT_EQ(run.status, each.status) << run.err;
        for (const std::string& said : each.said)
            EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
        EXPECT_EQ(WorkFiles(), before);
        EXPECT_EQ(ReadFile(work / "out.glb"), "old");
    }
}

}  // namespace
}  // namespace vantrel::test
