#pragma once
/// @file
/// The "Vector to color" node.

#include "shell/node_frame.h"
#include "shell/node_plug.h"

/// Looks each component of "In" up in a gradient of its own ("X color" for x, ... "W color" for w) and
/// mixes the four colours by "Weights" divided by their sum. Positions, weights and the result are used
/// as they stand: no clamping; weights that sum to zero give a non-finite colour.
class FVectorToColor final : public ColorResultNode {
public:
    static constexpr unsigned int classId = firstClassId + 1;
    static constexpr const char* plugName = "Vector to color";

    FVectorToColor();

    unsigned int ClassID() override { return classId; }
    std::string TypeName() override { return plugName; }

    using ColorResultNode::Eval;
    void Eval(Color* out, FunContext* context) override;
};

using FVectorToColorPlug = NodePlug<FVectorToColor>;
