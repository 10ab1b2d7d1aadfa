#include "mappers/w_distortion.h"

namespace {

enum class DistortionParam { Position, Distortion, count };

}  // namespace

FWDistortion::FWDistortion() {
    SizeParams<DistortionParam>();
    AddParam(DistortionParam::Position, Vec3d(0, 0, 0), ParamFlag::Value, "Position");
    AddParam(DistortionParam::Distortion, 0.0, ParamFlag::Value, "Distortion");
}

// Where both parameters are read, "Position" is read first. The text is the frame's, from Compute(Vec3d*).

void FWDistortion::Compute(ColorA* out, FunContext* context) {
    const Color p = ParamAt(DistortionParam::Position).GetColor(context);
    const double d = ParamAt(DistortionParam::Distortion).GetDouble(context);
    *out = ColorA(p.red, p.green, p.blue, d);
}

void FWDistortion::Compute(Color* out, FunContext* context) {
    const Vec2d p = ParamAt(DistortionParam::Position).GetVec2d(context);
    const double d = ParamAt(DistortionParam::Distortion).GetDouble(context);
    *out = Color(p.x, p.y, d);
}

void FWDistortion::Compute(Quaternion* out, FunContext* context) {
    const Vec3d p = ParamAt(DistortionParam::Position).GetVec3d(context);
    const double d = ParamAt(DistortionParam::Distortion).GetDouble(context);
    *out = Quaternion(p.x, p.y, p.z, d);
}

void FWDistortion::Compute(Vec4d* out, FunContext* context) {
    const Vec3d p = ParamAt(DistortionParam::Position).GetVec3d(context);
    const double d = ParamAt(DistortionParam::Distortion).GetDouble(context);
    *out = Vec4d(p.x, p.y, p.z, d);
}

void FWDistortion::Compute(Vec3d* out, FunContext* context) {
    const Vec2d p = ParamAt(DistortionParam::Position).GetVec2d(context);
    const double d = ParamAt(DistortionParam::Distortion).GetDouble(context);
    *out = Vec3d(p.x, p.y, d);
}

void FWDistortion::Compute(Vec2d* out, FunContext* context) {
    const double p = ParamAt(DistortionParam::Position).GetDouble(context);
    const double d = ParamAt(DistortionParam::Distortion).GetDouble(context);
    *out = Vec2d(p, d);
}

void FWDistortion::Compute(double* out, FunContext* context) {
    *out = ParamAt(DistortionParam::Distortion).GetDouble(context);
}

void FWDistortion::Compute(int* out, FunContext* context) {
    *out = TruncateToInt(ParamAt(DistortionParam::Distortion).GetDouble(context));
}
