#include "mappers/w_distortion.h"

namespace {

namespace param {

constexpr ParamRow<> position{
    .name = "Position", .type = PTYPE::Vec3d, .value = {0, 0, 0}, .flag = ParamFlag::Value};
constexpr ParamRow<> distortion{
    .name = "Distortion", .type = PTYPE::Double, .value = {0}, .flag = ParamFlag::Value};

}  // namespace param

constexpr const ParamRow<>* distortionParams[] = {&param::position, &param::distortion};

}  // namespace

constexpr NodeTable<> FWDistortion::table{.params = distortionParams};

FWDistortion::FWDistortion() = default;

// Where both parameters are read, "Position" is read first. The text is the frame's, from Compute(Vec3d*).

void FWDistortion::Compute(ColorA* out, FunContext* context) {
    const Color p = ParamAt<param::position>().GetColor(context);
    const double d = ParamAt<param::distortion>().GetDouble(context);
    *out = ColorA(p.red, p.green, p.blue, d);
}

void FWDistortion::Compute(Color* out, FunContext* context) {
    const Vec2d p = ParamAt<param::position>().GetVec2d(context);
    const double d = ParamAt<param::distortion>().GetDouble(context);
    *out = Color(p.x, p.y, d);
}

void FWDistortion::Compute(Quaternion* out, FunContext* context) {
    const Vec3d p = ParamAt<param::position>().GetVec3d(context);
    const double d = ParamAt<param::distortion>().GetDouble(context);
    *out = Quaternion(p.x, p.y, p.z, d);
}

void FWDistortion::Compute(Vec4d* out, FunContext* context) {
    const Vec3d p = ParamAt<param::position>().GetVec3d(context);
    const double d = ParamAt<param::distortion>().GetDouble(context);
    *out = Vec4d(p.x, p.y, p.z, d);
}

void FWDistortion::Compute(Vec3d* out, FunContext* context) {
    const Vec2d p = ParamAt<param::position>().GetVec2d(context);
    const double d = ParamAt<param::distortion>().GetDouble(context);
    *out = Vec3d(p.x, p.y, d);
}

void FWDistortion::Compute(Vec2d* out, FunContext* context) {
    const double p = ParamAt<param::position>().GetDouble(context);
    const double d = ParamAt<param::distortion>().GetDouble(context);
    *out = Vec2d(p, d);
}

void FWDistortion::Compute(double* out, FunContext* context) {
    *out = ParamAt<param::distortion>().GetDouble(context);
}

void FWDistortion::Compute(int* out, FunContext* context) {
    *out = TruncateToInt(ParamAt<param::distortion>().GetDouble(context));
}
