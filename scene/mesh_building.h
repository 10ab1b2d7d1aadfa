#pragma once
/// @file
/// What the readers of model files and the built-in shapes share: a model put together triangle by
/// triangle, with the triangles that have no area left out and counted.

#include <string>

#include "scene/mesh_model.h"

namespace vantrel {

class MeshBuilder {
public:
    /// A model that messages name `name`: the file, as the scene names it, or the shape.
    explicit MeshBuilder(std::string name);

    /// The index of a new vertex; its position and texture place must be finite.
    std::uint32_t AddVertex(const Vec3d& position, const Vec2d& uv);
    /// Adds the triangle of these vertices unless it has no area on the model or in the texture. Throws
    /// quib::Error (TooLarge) past `maxMeshTriangles`.
    void AddTriangle(std::uint32_t a, std::uint32_t b, std::uint32_t c);
    std::size_t Vertices() const { return model.vertices.size(); }
    /// The model, with its fingerprint. Throws quib::Error when no triangle has area.
    MeshModel Finish();

private:
    MeshModel model;
};

/// The model in the OBJ file `text` (whose name is `name`). Throws quib::Error at the line at fault.
MeshModel ReadObjModel(const std::string& text, const std::string& name);
/// The model in the glTF or GLB file `bytes`, its texture places TEXCOORD_`uvSet`; `folder` is where a
/// glTF file's external buffers are. Throws quib::Error at the JSON pointer at fault.
MeshModel ReadGltfModel(const std::string& bytes, const std::string& name, const std::string& folder,
                        int uvSet);

}  // namespace vantrel
