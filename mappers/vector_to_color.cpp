#include "mappers/vector_to_color.h"

#include "host/gradient.h"

namespace {

namespace param {

constexpr ParamRow<> in{.name = "In", .type = PTYPE::Vec4d, .value = {0, 0, 0, 0}, .flag = ParamFlag::Value};
constexpr ParamRow<> weights{
    .name = "Weights", .type = PTYPE::Vec4d, .value = {1, 1, 1, 1}, .flag = ParamFlag::Value};

}  // namespace param

constexpr const ParamRow<>* mixParams[] = {&param::in, &param::weights};

/// One gradient per component of "In", in component order.
constexpr std::string_view gradientLabels[] = {"X color", "Y color", "Z color", "W color"};
constexpr int componentCount = 4;
constexpr double Vec4d::*components[componentCount] = {&Vec4d::x, &Vec4d::y, &Vec4d::z, &Vec4d::w};

}  // namespace

constexpr NodeTable<> FVectorToColor::table{.params = mixParams, .gradients = gradientLabels};

FVectorToColor::FVectorToColor() = default;

void FVectorToColor::Compute(Color* out, FunContext* context) {
    const Vec4d in = ParamAt<param::in>().GetVec4d(context);
    const Vec4d weights = ParamAt<param::weights>().GetVec4d(context);

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
