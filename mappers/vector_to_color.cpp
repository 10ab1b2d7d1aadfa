#include "mappers/vector_to_color.h"

#include "host/gradient.h"

namespace {

enum class MixParam { In, Weights, count };

/// One gradient per component of "In", in component order.
constexpr const char* gradientLabels[] = {"X color", "Y color", "Z color", "W color"};
constexpr int componentCount = 4;
constexpr double Vec4d::*components[componentCount] = {&Vec4d::x, &Vec4d::y, &Vec4d::z, &Vec4d::w};

}  // namespace

FVectorToColor::FVectorToColor() {
    SizeParams<MixParam>();
    AddParam(MixParam::In, Vec4d(0, 0, 0, 0), ParamFlag::Value, "In");
    AddParam(MixParam::Weights, Vec4d(1, 1, 1, 1), ParamFlag::Value, "Weights");
    gradients.resize(componentCount);
    for (int i = 0; i < componentCount; ++i)
        gradients[i] = new Gradient(gradientLabels[i]);
}

void FVectorToColor::Compute(Color* out, FunContext* context) {
    const Vec4d in = ParamAt(MixParam::In).GetVec4d(context);
    const Vec4d weights = ParamAt(MixParam::Weights).GetVec4d(context);

    // One division per sample; each weight is multiplied by the reciprocal of the sum.
    const double k = 1.0 / (weights.w + weights.z + weights.y + weights.x);

    // One lookup buffer serves all four gradients: a lookup writes all three channels. The components
    // are read one at a time where they are used: copied into arrays first, two of them moved as a
    // pair that straddles the halves in which the host wrote the vector, and the processor stalls to
    // reassemble it (bench: Host/vector-to-color/Color/raster).
    Color lookup;
    gradients[0]->GetColour(in.x, lookup);
    Color mix = lookup * (weights.x * k);
    for (int i = 1; i < componentCount; ++i) {
        gradients[i]->GetColour(in.*components[i], lookup);
        mix = mix + lookup * (weights.*components[i] * k);
    }
    *out = mix;
}
