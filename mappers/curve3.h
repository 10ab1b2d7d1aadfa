#pragma once
/// @file
/// The "Curve3" node.

#include "shell/node_frame.h"
#include "shell/node_plug.h"

/// Passes each channel of "In" through its own response curve of the curve object "Curve": red through
/// the red curve, green through the green one, blue through the blue one. Nothing is clamped.
class FCurve3 final : public ColorResultNode {
public:
    static constexpr unsigned int classId = firstClassId + 2;
    static constexpr const char* plugName = "Curve3";

    FCurve3();

    unsigned int ClassID() override { return classId; }
    std::string TypeName() override { return plugName; }

    using ColorResultNode::Eval;
    void Eval(Color* out, FunContext* context) override;
};

using FCurve3Plug = NodePlug<FCurve3>;
