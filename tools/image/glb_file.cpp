// Binary glTF files of a model, made by tinygltf's writer. Its image codecs are left out: the texture goes
// into the file as the PNG bytes it is, through a buffer view, and is never decoded here.

#include "tools/image/glb_file.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <span>
#include <sstream>
#include <vector>

// The scene library's reader of models compiles tinygltf's implementation with the same macros: the
// classes' inline members must be alike in both.
#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#include <tiny_gltf.h>

#include "quib/error.h"

namespace vantrel {
namespace {

/// The model's vertices as glTF holds them: 32-bit floats, three a position and a normal, two a place in
/// the texture.
struct VertexArrays {
    std::vector<float> positions;
    std::vector<float> normals;
    std::vector<float> uvs;
};

/// Each vertex's normal: the sum of its triangles' cross products of two edges, whose length is twice
/// the triangle's area, made of unit length. A vertex whose sum vanishes (its triangles face opposite
/// ways) takes +z: glTF asks for a unit normal at every vertex.
std::vector<Vec3d> AreaWeightedNormals(const MeshModel& model) {
    std::vector<Vec3d> sums(model.vertices.size());
    for (const auto& corners : model.triangles) {
        const Vec3d& a = model.vertices[corners[0]].position;
        const Vec3d u = model.vertices[corners[1]].position - a;
        const Vec3d v = model.vertices[corners[2]].position - a;
        const Vec3d cross(u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x);
        for (const std::uint32_t corner : corners)
            sums[corner] = sums[corner] + cross;
    }
    for (Vec3d& sum : sums) {
        if (sum.Length() > 0.0) {
            sum.Normalize();
        } else {
            sum = Vec3d(0.0, 0.0, 1.0);
        }
    }
    return sums;
}

VertexArrays ArraysOf(const MeshModel& model) {
    const std::vector<Vec3d> normals = AreaWeightedNormals(model);
    VertexArrays arrays;
    for (std::size_t i = 0; i < model.vertices.size(); ++i) {
        const MeshModel::Vertex& vertex = model.vertices[i];
        arrays.positions.insert(arrays.positions.end(),
                                {static_cast<float>(vertex.position.x), static_cast<float>(vertex.position.y),
                                 static_cast<float>(vertex.position.z)});
        arrays.normals.insert(arrays.normals.end(),
                              {static_cast<float>(normals[i].x), static_cast<float>(normals[i].y),
                               static_cast<float>(normals[i].z)});
        arrays.uvs.insert(arrays.uvs.end(),
                          {static_cast<float>(vertex.uv.x), static_cast<float>(vertex.uv.y)});
    }
    return arrays;
}

/// Appends `bytes` to the model's one buffer as a view of their own, `target` the GPU buffer it is bound
/// to (0: none, for an image), and returns the view's index. Every array before the image is of 4-byte
/// values, so each view starts 4-byte aligned, as glTF asks of an accessor's data.
int AddView(tinygltf::Model& gltf, std::span<const unsigned char> bytes, int target) {
    std::vector<unsigned char>& data = gltf.buffers[0].data;
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = data.size();
    view.byteLength = bytes.size();
    view.target = target;
    data.insert(data.end(), bytes.begin(), bytes.end());
    gltf.bufferViews.push_back(view);
    return static_cast<int>(gltf.bufferViews.size() - 1);
}

/// Adds an accessor of the whole of `values`, `components` a vertex (or 1 for the indices), as a view of
/// its own; returns the accessor's index.
template <class T>
int AddAccessor(tinygltf::Model& gltf, const std::vector<T>& values, int components, int target) {
    tinygltf::Accessor accessor;
    accessor.bufferView = AddView(
        gltf, std::span(reinterpret_cast<const unsigned char*>(values.data()), values.size() * sizeof(T)),
        target);
    accessor.componentType =
        std::is_same_v<T, float> ? TINYGLTF_COMPONENT_TYPE_FLOAT : TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
    accessor.count = values.size() / components;
    accessor.type = components == 3   ? TINYGLTF_TYPE_VEC3
                    : components == 2 ? TINYGLTF_TYPE_VEC2
                                      : TINYGLTF_TYPE_SCALAR;
    gltf.accessors.push_back(accessor);
    return static_cast<int>(gltf.accessors.size() - 1);
}

/// The least and the greatest of each coordinate of `positions`, which glTF asks of a position accessor.
void SetBounds(tinygltf::Accessor& accessor, const std::vector<float>& positions) {
    accessor.minValues.assign(3, std::numeric_limits<double>::infinity());
    accessor.maxValues.assign(3, -std::numeric_limits<double>::infinity());
    for (std::size_t i = 0; i < positions.size(); ++i) {
        accessor.minValues[i % 3] = std::min<double>(accessor.minValues[i % 3], positions[i]);
        accessor.maxValues[i % 3] = std::max<double>(accessor.maxValues[i % 3], positions[i]);
    }
}

/// A material whose base colour is the texture `png`, filtered linearly and repeated past the edges; not
/// metallic and fairly rough, as a painted surface. Returns its index.
int AddTexturedMaterial(tinygltf::Model& gltf, const std::string& png) {
    tinygltf::Image image;
    image.mimeType = "image/png";
    image.bufferView =
        AddView(gltf, std::span(reinterpret_cast<const unsigned char*>(png.data()), png.size()), 0);
    gltf.images.push_back(image);
    tinygltf::Sampler sampler;
    sampler.magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
    sampler.minFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
    sampler.wrapS = TINYGLTF_TEXTURE_WRAP_REPEAT;
    sampler.wrapT = TINYGLTF_TEXTURE_WRAP_REPEAT;
    gltf.samplers.push_back(sampler);
    tinygltf::Texture texture;
    texture.sampler = 0;
    texture.source = 0;
    gltf.textures.push_back(texture);
    tinygltf::Material material;
    material.pbrMetallicRoughness.baseColorTexture.index = 0;
    material.pbrMetallicRoughness.metallicFactor = 0.0;
    material.pbrMetallicRoughness.roughnessFactor = 0.8;
    gltf.materials.push_back(material);
    return 0;
}

}  // namespace

std::string GlbOf(const MeshModel& model, const std::string& png) {
    tinygltf::Model gltf;
    gltf.asset.generator = "vantrel";
    gltf.asset.version = "2.0";
    gltf.buffers.resize(1);
    const VertexArrays arrays = ArraysOf(model);
    std::vector<std::uint32_t> indices;
    indices.reserve(3 * model.triangles.size());
    for (const auto& corners : model.triangles)
        indices.insert(indices.end(), corners.begin(), corners.end());

    tinygltf::Primitive primitive;
    primitive.mode = TINYGLTF_MODE_TRIANGLES;
    primitive.attributes["POSITION"] = AddAccessor(gltf, arrays.positions, 3, TINYGLTF_TARGET_ARRAY_BUFFER);
    SetBounds(gltf.accessors.back(), arrays.positions);
    primitive.attributes["NORMAL"] = AddAccessor(gltf, arrays.normals, 3, TINYGLTF_TARGET_ARRAY_BUFFER);
    primitive.attributes["TEXCOORD_0"] = AddAccessor(gltf, arrays.uvs, 2, TINYGLTF_TARGET_ARRAY_BUFFER);
    primitive.indices = AddAccessor(gltf, indices, 1, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    if (!png.empty()) primitive.material = AddTexturedMaterial(gltf, png);

    tinygltf::Mesh mesh;
    mesh.name = model.name;
    mesh.primitives.push_back(primitive);
    gltf.meshes.push_back(mesh);
    tinygltf::Node node;
    node.mesh = 0;
    gltf.nodes.push_back(node);
    gltf.scenes.push_back({});
    gltf.scenes[0].nodes.push_back(0);
    gltf.defaultScene = 0;

    std::ostringstream stream;
    tinygltf::TinyGLTF().WriteGltfSceneToStream(&gltf, stream, false, true);
    if (!stream) throw std::bad_alloc();  // a string stream fails only when it cannot grow
    std::string glb = std::move(stream).str();
    // Its header and chunks give their lengths in 32 bits.
    if (glb.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw quib::Error::Expected(quib::Error::Code::TooLarge, {}, "a binary glTF file of at most 4 GiB",
                                    std::to_string(glb.size()) + " bytes of model and texture");
    }
    return glb;
}

}  // namespace vantrel
