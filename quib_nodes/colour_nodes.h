#pragma once
/// @file
/// The host's nodes that make colours: random, gradient map and mix.

#include <array>
#include <string_view>

#include "quib_nodes/node_frame.h"

namespace quibnodes {

/// "Random": a value in [0, 1) and a colour of three such values, drawn from "Vector", rounded to steps
/// of 2^-16 (quib_nodes/random_hash.h), and "Seed". The real and the int are the value; every other
/// type comes from the colour.
class FRandom final : public NodeFrame<FRandom, RealAndColourResult> {
public:
    static constexpr unsigned int classId = firstClassId + 2;
    static constexpr const char* typeName = "Random";
    static const std::array<ParamSpec, 2> paramSpecs;

    void Compute(double* out, FunContext* context);
    void Compute(Color* out, FunContext* context);
};

/// "Gradient map": "Value" looked up in the gradient "Gradient", blended between its stops ("smooth")
/// or holding each stop's colour up to the next ("stepped"). A colour result.
class FGradientMap final : public NodeFrame<FGradientMap, ColourResult> {
public:
    static constexpr unsigned int classId = firstClassId + 3;
    static constexpr const char* typeName = "Gradient map";
    static const std::array<ParamSpec, 2> paramSpecs;
    static constexpr std::array<std::string_view, 1> gradientLabels = {"Gradient"};

    void Compute(Color* out, FunContext* context);
};

/// "Mix": colour "A" moved toward "A" blended with "B" by the blend mode, "Factor" (held within 0 .. 1)
/// of the way. A colour result.
class FMix final : public NodeFrame<FMix, ColourResult> {
public:
    static constexpr unsigned int classId = firstClassId + 4;
    static constexpr const char* typeName = "Mix";
    static const std::array<ParamSpec, 4> paramSpecs;

    void Compute(Color* out, FunContext* context);
};

}  // namespace quibnodes
