#pragma once
/// @file
/// The "Curve3" node.

#include "shell/node_frame.h"
#include "shell/node_plug.h"

/// Passes each channel of "In" through its own response curve of the curve object "Curve": red through
/// the red curve, green through the green one, blue through the blue one. Nothing is clamped.
class FCurve3 final : public NodeFrame<FCurve3, nodekind::Colour> {
public:
    static constexpr unsigned int classId = firstClassId + 2;
    static constexpr const char* typeName = "Curve3";
    /// Its parameter and curve object (mappers/curve3.cpp).
    static const NodeTable<> table;

    FCurve3();

    void Compute(Color* out, FunContext* context);
};

using FCurve3Plug = NodePlug<FCurve3>;
