#pragma once
/// @file
/// The host's nodes of reals and vectors: remap, math, combine and pick.

#include <array>

#include "quib_nodes/node_frame.h"

namespace quibnodes {

/// "Remap": "Value" moved from the range "From min" .. "From max" to "To min" .. "To max", linearly,
/// by a smooth step or by a step at the middle of the From range; "Clamp" 1 holds it within the To
/// range. A real result.
class FRemap final : public NodeFrame<FRemap, RealResult> {
public:
    static constexpr unsigned int classId = firstClassId + 0;
    static constexpr const char* typeName = "Remap";
    static const std::array<ParamSpec, 7> paramSpecs;

    void Compute(double* out, FunContext* context);
};

/// "Math": "A" and "B" through the operation the list box "Operation" names. A real result.
class FMath final : public NodeFrame<FMath, RealResult> {
public:
    static constexpr unsigned int classId = firstClassId + 1;
    static constexpr const char* typeName = "Math";
    static const std::array<ParamSpec, 3> paramSpecs;

    void Compute(double* out, FunContext* context);
};

/// "Combine": the reals "X", "Y" and "Z" as the vector (x, y, z), which is also its colour.
class FCombine final : public NodeFrame<FCombine, VectorResult> {
public:
    static constexpr unsigned int classId = firstClassId + 5;
    static constexpr const char* typeName = "Combine";
    static const std::array<ParamSpec, 3> paramSpecs;

    void Compute(Vec3d* out, FunContext* context);
};

/// "Pick": the component of "Vector" that the list box "Component" names (x, y, z or w). A real result.
class FPick final : public NodeFrame<FPick, RealResult> {
public:
    static constexpr unsigned int classId = firstClassId + 6;
    static constexpr const char* typeName = "Pick";
    static const std::array<ParamSpec, 2> paramSpecs;

    void Compute(double* out, FunContext* context);
};

}  // namespace quibnodes
