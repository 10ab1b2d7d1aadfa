#include "mappers/curve3.h"

#include "host/curve_holder.h"

namespace {

enum class CurveParam { In, count };

}  // namespace

FCurve3::FCurve3() {
    SizeParams<CurveParam>();
    AddParam(CurveParam::In, Color(0.5, 0.5, 0.5), ParamFlag::Value, "In");
    curves.resize(1);
    curves[0] = new CurveHolder(static_cast<int>(CurveForm::Rgb), "Curve");
}

void FCurve3::Compute(Color* out, FunContext* context) {
    const Color in = ParamAt(CurveParam::In).GetColor(context);
    const CurveHolder& curve = *curves[0];
    const double red = curve.EvalRed(in.red);
    const double green = curve.EvalGreen(in.green);
    const double blue = curve.EvalBlue(in.blue);
    *out = Color(red, green, blue);
}
