#pragma once
/// @file
/// The "W Distortion" node.

#include "shell/node_frame.h"
#include "shell/node_plug.h"

/// Puts "Distortion" into the last component of whatever type is asked for, and fills the components
/// before it from "Position" read as the type with one component fewer: a Vec4d is (Position as Vec3d,
/// D), a Vec3d (Position as Vec2d, D), a Vec2d (Position as real, D), a real or int D alone. Each output
/// is composed on its own; the text is that of the Vec3d output.
class FWDistortion final : public NodeFrame<FWDistortion, nodekind::Composed> {
public:
    static constexpr unsigned int classId = firstClassId + 3;
    static constexpr const char* typeName = "W Distortion";
    /// Its parameters (mappers/w_distortion.cpp).
    static const NodeTable<> table;

    FWDistortion();

    void Compute(ColorA* out, FunContext* context);
    void Compute(Color* out, FunContext* context);
    void Compute(Quaternion* out, FunContext* context);
    void Compute(Vec4d* out, FunContext* context);
    void Compute(Vec3d* out, FunContext* context);
    void Compute(Vec2d* out, FunContext* context);
    void Compute(double* out, FunContext* context);
    void Compute(int* out, FunContext* context);
};

using FWDistortionPlug = NodePlug<FWDistortion>;
