#pragma once
/// @file
/// Binary glTF (.glb) files of a model, with its texture embedded: what `vantrel bake` writes and what
/// the editor's 3-D view draws.

#include <string>

#include "scene/mesh_model.h"

namespace vantrel {

/// The bytes of a binary glTF file of `model`: one mesh of its triangles with positions, normals (each
/// vertex's the mean of its triangles', weighted by area) and texture places, and, when `png` holds the
/// bytes of a PNG file, a material whose base colour is that texture (sRGB, as every colour PNG is).
std::string GlbOf(const MeshModel& model, const std::string& png = {});

}  // namespace vantrel
