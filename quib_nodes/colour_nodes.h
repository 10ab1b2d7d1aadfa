#pragma once
/// @file
/// The host's nodes that make colours: random, gradient map and mix.

#include <array>
#include <string_view>

#include "quib_nodes/arithmetic.h"
#include "quib_nodes/node_frame.h"

namespace quibnodes {

/// "Random": a value in [0, 1) and a colour of three such values, drawn from "Vector", rounded to steps
/// of 2^-16 (quib_nodes/random_hash.h), and "Seed". The real and the int are the value; every other
/// type comes from the colour.
class FRandom final : public NodeFrame<FRandom, RealAndColourResult> {
public:
    static constexpr unsigned int classId = firstClassId + 2;
    static constexpr const char* typeName = "Random";
    static constexpr std::array<ParamRow, 2> paramRows = {{
        {"Vector", PTYPE::Vec3d},
        {"Seed", PTYPE::Int},
    }};

    void Compute(double* out, FunContext* context);
    void Compute(Color* out, FunContext* context);
};

/// "Gradient map": "Value" looked up in the gradient "Gradient", blended between its stops ("smooth")
/// or holding each stop's colour up to the next ("stepped"). A colour result.
class FGradientMap final : public NodeFrame<FGradientMap, ColourResult> {
public:
    static constexpr unsigned int classId = firstClassId + 3;
    static constexpr const char* typeName = "Gradient map";
    static constexpr std::array<ParamRow, 2> paramRows = {{
        {"Value", PTYPE::Double},
        {"(0=smooth, 1=stepped)Interpolation", PTYPE::Int, {0}, Style::List, 1},
    }};
    static constexpr std::array<std::string_view, 1> gradientLabels = {"Gradient"};

    void Compute(Color* out, FunContext* context);
};

/// "Mix": colour "A" moved toward "A" blended with "B" by the blend mode, "Factor" (held within 0 .. 1)
/// of the way. A colour result.
class FMix final : public NodeFrame<FMix, ColourResult> {
public:
    static constexpr unsigned int classId = firstClassId + 4;
    static constexpr const char* typeName = "Mix";
    static constexpr std::array<ParamRow, 4> paramRows = {{
        {"Factor", PTYPE::Double, {0.5}},
        {"A", PTYPE::Color, {0, 0, 0}},
        {"B", PTYPE::Color, {1, 1, 1}},
        {"(0=mix, 1=add, 2=multiply, 3=screen, 4=overlay)Blend", PTYPE::Int, {0}, Style::List, lastBlendMode},
    }};

    void Compute(Color* out, FunContext* context);
};

}  // namespace quibnodes
