#pragma once
/// @file
/// Models a texture is rendered onto: triangles with a position in the model's own space and a place in
/// the texture at each corner, read from an OBJ, glTF or GLB file or made as one of a few built-in
/// shapes.
///
/// A texture's place is (u, v) with u from 0 at the image's left edge to 1 at its right and v from 0 at
/// its top to 1 at its bottom, as glTF has it; an OBJ file's v runs up from the bottom and is turned
/// over as the file is read.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/values.h"

namespace vantrel {

struct MeshModel {
    struct Vertex {
        Vec3d position;  ///< in the model's own space
        Vec2d uv;        ///< the texture's place
    };

    std::vector<Vertex> vertices;
    /// Corners by index into `vertices`, in the file's order, counter-clockwise seen from outside.
    std::vector<std::array<std::uint32_t, 3>> triangles;
    /// Triangles of the file left out: those with no area on the model or none in the texture, whose
    /// texture would be nowhere or whose surface point would be ill defined.
    std::int64_t skipped = 0;
    /// How messages and descriptions name the model: the file as the scene names it, or the shape.
    std::string name;
    /// 16 hexadecimal digits that differ, but for a one-in-2^64 chance, between models of different
    /// vertices or triangles: renders of one model in parts are told apart from another's by it.
    std::string fingerprint;
};

/// The built-in shapes, by the names a scene gives them: a unit square in the xy-plane, a cube from -1 to
/// 1, a UV sphere of radius 1 and a torus about the z axis.
inline constexpr std::array<std::string_view, 4> builtInShapes = {"plane", "cube", "sphere", "torus"};

/// Which model a mesh domain names: a file (relative to the scene's folder) and its UV set, or a
/// built-in shape.
struct MeshReference {
    std::string file;   ///< as the scene names it; empty for a shape
    std::string shape;  ///< one of `builtInShapes`; empty for a file
    int uvSet = 0;      ///< glTF's TEXCOORD_n; an OBJ file has only 0
};

/// The most triangles a model may have, and the largest file read: a model's memory is bounded by them
/// (about 90 bytes a triangle while a file is read).
inline constexpr std::int64_t maxMeshTriangles = 4'000'000;
inline constexpr std::int64_t maxMeshFileBytes = std::int64_t{512} << 20;

/// The model `reference` names, its file read relative to `folder` (the scene's; empty for the working
/// folder). Throws quib::Error naming the file and, where it can, the line (OBJ) or the JSON pointer
/// (glTF) at fault: a file that cannot be read or is malformed, an index out of range, a position or
/// texture place that is not finite, no texture places, more than `maxMeshTriangles`, or no triangle
/// left once those without area are skipped.
std::shared_ptr<const MeshModel> LoadMeshModel(const MeshReference& reference, const std::string& folder);

/// The built-in shape `name`, one of `builtInShapes`. Throws quib::Error naming the shapes otherwise.
MeshModel BuiltInShape(std::string_view name);

}  // namespace vantrel
