#include "scene/mesh_model.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "quib/error.h"
#include "quib/text.h"
#include "scene/mesh_building.h"
#include "scene/scene.h"

namespace vantrel {
namespace {

using quib::Error;

/// Twice the signed area of the triangle a b c of the texture: positive when counter-clockwise with v
/// up.
double TextureArea(const Vec2d& a, const Vec2d& b, const Vec2d& c) {
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

/// Whether the triangle a b c of the model has no area: its edges are parallel, or one is empty.
bool Flat(const Vec3d& a, const Vec3d& b, const Vec3d& c) {
    const Vec3d e{b.x - a.x, b.y - a.y, b.z - a.z}, f{c.x - a.x, c.y - a.y, c.z - a.z};
    return e.y * f.z - e.z * f.y == 0.0 && e.z * f.x - e.x * f.z == 0.0 && e.x * f.y - e.y * f.x == 0.0;
}

/// FNV-1a over 64-bit words: the bits of the doubles and the indices, the same on every machine.
struct Fingerprint {
    std::uint64_t hash = 14695981039346656037ull;

    void Add(std::uint64_t word) {
        for (int byte = 0; byte < 8; ++byte) {
            hash ^= (word >> (8 * byte)) & 0xff;
            hash *= 1099511628211ull;
        }
    }
    void Add(double value) { Add(std::bit_cast<std::uint64_t>(value)); }
    std::string Hex() const {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
        return text;
    }
};

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

}  // namespace

MeshBuilder::MeshBuilder(std::string name) {
    model.name = std::move(name);
}

std::uint32_t MeshBuilder::AddVertex(const Vec3d& position, const Vec2d& uv) {
    if (model.vertices.size() >= std::size_t{UINT32_MAX}) {
        throw Error::Expected(Error::Code::TooLarge, {}, "fewer than 2^32 vertices").WithSource(model.name);
    }
    model.vertices.push_back({position, uv});
    return static_cast<std::uint32_t>(model.vertices.size() - 1);
}

void MeshBuilder::AddTriangle(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    const auto& v = model.vertices;
    if (TextureArea(v[a].uv, v[b].uv, v[c].uv) == 0.0 || Flat(v[a].position, v[b].position, v[c].position)) {
        ++model.skipped;
        return;
    }
    if (static_cast<std::int64_t>(model.triangles.size()) >= maxMeshTriangles) {
        throw Error::Expected(Error::Code::TooLarge, {},
                              "a model of at most " + std::to_string(maxMeshTriangles) + " triangles",
                              "one with more")
            .WithSource(model.name);
    }
    model.triangles.push_back({a, b, c});
}

MeshModel MeshBuilder::Finish() {
    if (model.triangles.empty()) {
        throw Error::Expected(Error::Code::BadValue, {}, "a model with at least one triangle of some area",
                              model.skipped == 0 ? "none" : std::to_string(model.skipped) + " without area")
            .WithSource(model.name);
    }
    Fingerprint print;
    for (const MeshModel::Vertex& vertex : model.vertices) {
        for (const double value :
             {vertex.position.x, vertex.position.y, vertex.position.z, vertex.uv.x, vertex.uv.y})
            print.Add(value);
    }
    for (const auto& triangle : model.triangles) {
        for (const std::uint32_t corner : triangle)
            print.Add(std::uint64_t{corner});
    }
    model.fingerprint = print.Hex();
    return std::move(model);
}

std::shared_ptr<const MeshModel> LoadMeshModel(const MeshReference& reference, const std::string& folder) {
    if (reference.file.empty()) return std::make_shared<const MeshModel>(BuiltInShape(reference.shape));
    const std::filesystem::path path = std::filesystem::path(folder) / reference.file;
    const std::string name = path.string();
    const std::string extension = Lowered(path.extension().string());
    if (extension != ".obj" && extension != ".gltf" && extension != ".glb") {
        throw Error::Expected(Error::Code::BadValue, {}, "a model file named .obj, .gltf or .glb",
                              quib::Quote(reference.file))
            .WithSource(name);
    }
    if (extension == ".obj" && reference.uvSet != 0) {
        throw Error::Expected(Error::Code::OutOfRange, {},
                              "UV set 0: an OBJ file has one set of texture places",
                              std::to_string(reference.uvSet))
            .WithSource(name);
    }
    try {
        const std::string bytes = ReadWholeFile(name, maxMeshFileBytes, "a model file");
        return std::make_shared<const MeshModel>(
            extension == ".obj" ? ReadObjModel(bytes, name)
                                : ReadGltfModel(bytes, name, path.parent_path().string(), reference.uvSet));
    } catch (const std::bad_alloc&) {
        throw Error(Error::Kind::Failure, "not enough memory to read the model").WithSource(name);
    }
}

}  // namespace vantrel
