#include "mappers/w_distortion.h"

namespace {

enum ParamIndex { paramPosition, paramDistortion, paramCount };

}  // namespace

FWDistortion::FWDistortion() {
    name = TypeName();
    params.resize(paramCount);
    AddParam(paramPosition, Vec3d(0, 0, 0), 1, "Position");
    AddParam(paramDistortion, 0.0, 1, "Distortion");
}

// Where both parameters are read, "Position" is read first.

void FWDistortion::Eval(std::string* out, FunContext* context) {
    Vec3d v;
    Eval(&v, context);
    Converter::convert(v, *out);
}

void FWDistortion::Eval(ColorA* out, FunContext* context) {
    const Color p = params[paramPosition]->GetColor(context);
    const double d = params[paramDistortion]->GetDouble(context);
    *out = ColorA(p.red, p.green, p.blue, d);
}

void FWDistortion::Eval(Color* out, FunContext* context) {
    const Vec2d p = params[paramPosition]->GetVec2d(context);
    const double d = params[paramDistortion]->GetDouble(context);
    *out = Color(p.x, p.y, d);
}

void FWDistortion::Eval(Quaternion* out, FunContext* context) {
    const Vec3d p = params[paramPosition]->GetVec3d(context);
    const double d = params[paramDistortion]->GetDouble(context);
    *out = Quaternion(p.x, p.y, p.z, d);
}

void FWDistortion::Eval(Vec4d* out, FunContext* context) {
    const Vec3d p = params[paramPosition]->GetVec3d(context);
    const double d = params[paramDistortion]->GetDouble(context);
    *out = Vec4d(p.x, p.y, p.z, d);
}

void FWDistortion::Eval(Vec3d* out, FunContext* context) {
    const Vec2d p = params[paramPosition]->GetVec2d(context);
    const double d = params[paramDistortion]->GetDouble(context);
    *out = Vec3d(p.x, p.y, d);
}

void FWDistortion::Eval(Vec2d* out, FunContext* context) {
    const double p = params[paramPosition]->GetDouble(context);
    const double d = params[paramDistortion]->GetDouble(context);
    *out = Vec2d(p, d);
}

void FWDistortion::Eval(double* out, FunContext* context) {
    *out = params[paramDistortion]->GetDouble(context);
}

void FWDistortion::Eval(int* out, FunContext* context) {
    *out = TruncateToInt(params[paramDistortion]->GetDouble(context));
}
