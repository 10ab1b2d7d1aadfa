#pragma once
/// @file
/// The host's nodes of reals and vectors: remap, math, combine and pick.

#include <array>

#include "quib_nodes/arithmetic.h"
#include "quib_nodes/node_frame.h"

namespace quibnodes {

/// "Remap": "Value" moved from the range "From min" .. "From max" to "To min" .. "To max", linearly,
/// by a smooth step or by a step at the middle of the From range; "Clamp" 1 holds it within the To
/// range. A real result.
class FRemap final : public NodeFrame<FRemap, RealResult> {
public:
    static constexpr unsigned int classId = firstClassId + 0;
    static constexpr const char* typeName = "Remap";
    static constexpr std::array<ParamRow, 7> paramRows = {{
        {"Value", PTYPE::Double},
        {"From min", PTYPE::Double, {0}},
        {"From max", PTYPE::Double, {1}},
        {"To min", PTYPE::Double, {0}},
        {"To max", PTYPE::Double, {1}},
        {"Clamp", PTYPE::Int, {1}, Style::Switch},
        {"(0=linear, 1=smooth step, 2=step)Interpolation", PTYPE::Int, {0}, Style::List, 2},
    }};

    void Compute(double* out, FunContext* context);
};

/// "Math": "A" and "B" through the operation the list box "Operation" names. A real result.
class FMath final : public NodeFrame<FMath, RealResult> {
public:
    static constexpr unsigned int classId = firstClassId + 1;
    static constexpr const char* typeName = "Math";
    static constexpr std::array<ParamRow, 3> paramRows = {{
        {"A", PTYPE::Double},
        {"B", PTYPE::Double},
        {"(0=add, 1=subtract, 2=multiply, 3=divide, 4=minimum, 5=maximum, 6=power, 7=absolute, 8=floor, "
         "9=fraction, 10=modulo)Operation",
         PTYPE::Int,
         {0},
         Style::List,
         lastMathOperation},
    }};

    void Compute(double* out, FunContext* context);
};

/// "Combine": the reals "X", "Y" and "Z" as the vector (x, y, z), which is also its colour.
class FCombine final : public NodeFrame<FCombine, VectorResult> {
public:
    static constexpr unsigned int classId = firstClassId + 5;
    static constexpr const char* typeName = "Combine";
    static constexpr std::array<ParamRow, 3> paramRows = {{
        {"X", PTYPE::Double},
        {"Y", PTYPE::Double},
        {"Z", PTYPE::Double},
    }};

    void Compute(Vec3d* out, FunContext* context);
};

/// "Pick": the component of "Vector" that the list box "Component" names (x, y, z or w). A real result.
class FPick final : public NodeFrame<FPick, RealResult> {
public:
    static constexpr unsigned int classId = firstClassId + 6;
    static constexpr const char* typeName = "Pick";
    static constexpr std::array<ParamRow, 2> paramRows = {{
        {"Vector", PTYPE::Vec4d},
        {"(0=x, 1=y, 2=z, 3=w)Component", PTYPE::Int, {0}, Style::List, 3},
    }};

    void Compute(double* out, FunContext* context);
};

}  // namespace quibnodes
