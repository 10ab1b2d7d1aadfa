#include "mappers/vector_to_color.h"

#include "host/gradient.h"

namespace {

enum ParamIndex { paramIn, paramWeights, paramCount };

/// One gradient per component of "In", in component order.
constexpr const char* gradientLabels[] = {"X color", "Y color", "Z color", "W color"};
constexpr int componentCount = 4;

}  // namespace

FVectorToColor::FVectorToColor() {
    name = TypeName();
    params.resize(paramCount);
    AddParam(paramIn, Vec4d(0, 0, 0, 0), 1, "In");
    AddParam(paramWeights, Vec4d(1, 1, 1, 1), 1, "Weights");
    gradients.resize(componentCount);
    for (int i = 0; i < componentCount; ++i)
        gradients[i] = new Gradient(gradientLabels[i]);
}

void FVectorToColor::Eval(Color* out, FunContext* context) {
    const Vec4d in = params[paramIn]->GetVec4d(context);
    const Vec4d weights = params[paramWeights]->GetVec4d(context);

    // One division per sample; each weight is multiplied by the reciprocal of the sum.
    const double k = 1.0 / (weights.w + weights.z + weights.y + weights.x);
    const double positions[componentCount] = {in.x, in.y, in.z, in.w};
    const double shares[componentCount] = {weights.x * k, weights.y * k, weights.z * k, weights.w * k};

    // One lookup buffer serves all four gradients: a lookup writes all three channels.
    Color lookup;
    gradients[0]->GetColour(positions[0], lookup);
    Color mix = lookup * shares[0];
    for (int i = 1; i < componentCount; ++i) {
        gradients[i]->GetColour(positions[i], lookup);
        mix = mix + lookup * shares[i];
    }
    *out = mix;
}
