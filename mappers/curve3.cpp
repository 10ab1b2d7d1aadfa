#include "mappers/curve3.h"

#include "host/curve_holder.h"

namespace {

/// The curve object's form with separate red, green and blue curves.
constexpr int rgbCurves = 3;

}  // namespace

FCurve3::FCurve3() {
    name = TypeName();
    params.resize(1);
    AddParam(0, Color(0.5, 0.5, 0.5), 1, "In");
    curves.resize(1);
    curves[0] = new CurveHolder(rgbCurves, "Curve");
}

void FCurve3::Eval(Color* out, FunContext* context) {
    const Color in = params[0]->GetColor(context);
    const CurveHolder& curve = *curves[0];
    const double red = curve.EvalRed(in.red);
    const double green = curve.EvalGreen(in.green);
    const double blue = curve.EvalBlue(in.blue);
    *out = Color(red, green, blue);
}
