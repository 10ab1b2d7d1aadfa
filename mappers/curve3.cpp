#include "mappers/curve3.h"

#include "host/curve_holder.h"

namespace {

namespace param {

constexpr ParamRow<> in{
    .name = "In", .type = PTYPE::Color, .value = {0.5, 0.5, 0.5}, .flag = ParamFlag::Value};

}  // namespace param

constexpr const ParamRow<>* curve3Params[] = {&param::in};
// Red, green and blue curves, over the host's own input range.
constexpr CurveRow curve3Curves[] = {{"Curve", CurveForm::Rgb}};

}  // namespace

constexpr NodeTable<> FCurve3::table{.params = curve3Params, .curves = curve3Curves};

FCurve3::FCurve3() = default;

void FCurve3::Compute(Color* out, FunContext* context) {
    const Color in = ParamAt<param::in>().GetColor(context);
    const CurveHolder& curve = *curves[0];
    const double red = curve.EvalRed(in.red);
    const double green = curve.EvalGreen(in.green);
    const double blue = curve.EvalBlue(in.blue);
    *out = Color(red, green, blue);
}
