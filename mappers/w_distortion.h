#pragma once
/// @file
/// The "W Distortion" node.

#include "shell/node_frame.h"
#include "shell/node_plug.h"

/// Puts "Distortion" into the last component of whatever type is asked for, and fills the components
/// before it from "Position" read as the type with one component fewer: a Vec4d is (Position as Vec3d,
/// D), a Vec3d (Position as Vec2d, D), a Vec2d (Position as real, D), a real or int D alone. Each output
/// is composed on its own; the text is that of the Vec3d output.
class FWDistortion final : public NodeFrame {
public:
    static constexpr unsigned int classId = firstClassId + 3;
    static constexpr const char* plugName = "W Distortion";

    FWDistortion();

    unsigned int ClassID() override { return classId; }
    std::string TypeName() override { return plugName; }

    void Eval(std::string* out, FunContext* context) override;
    void Eval(ColorA* out, FunContext* context) override;
    void Eval(Color* out, FunContext* context) override;
    void Eval(Quaternion* out, FunContext* context) override;
    void Eval(Vec4d* out, FunContext* context) override;
    void Eval(Vec3d* out, FunContext* context) override;
    void Eval(Vec2d* out, FunContext* context) override;
    void Eval(double* out, FunContext* context) override;
    void Eval(int* out, FunContext* context) override;
};

using FWDistortionPlug = NodePlug<FWDistortion>;
