#pragma once
/// @file
/// The "Vector to color" node.

#include "shell/node_frame.h"
#include "shell/node_plug.h"

/// Looks each component of "In" up in a gradient of its own ("X color" for x, ... "W color" for w) and
/// mixes the four colours by "Weights" divided by their sum. Positions, weights and the result are used
/// as they stand: no clamping; weights that sum to zero give a non-finite colour.
class FVectorToColor final : public NodeFrame<FVectorToColor, nodekind::Colour> {
public:
    static constexpr unsigned int classId = firstClassId + 1;
    static constexpr const char* typeName = "Vector to color";
    /// Its parameters and gradients (mappers/vector_to_color.cpp).
    static const NodeTable<> table;

    FVectorToColor();

    void Compute(Color* out, FunContext* context);
};

using FVectorToColorPlug = NodePlug<FVectorToColor>;
