#include "generators/hex_lattice.h"

#include <cmath>

#include "generators/hex_lattice_geometry.h"

namespace hexlattice {
namespace {

/// |sum of the weights| at or below which a weighted average gives the nearest corner instead.
constexpr double zeroWeightSum = 1e-15;

struct Weights {
    double w0, w1, w2;  ///< of the nearest, middle and farthest corner
};

/// The curves are the host's objects, so they are read in a fixed order: "W1", "W2", then "W3".
Weights Weigh(const std::array<double, 3>& distance, const WeightCurves& curves) {
    const double w0 = curves.w1->EvalGrey(distance[0]);
    const double w1 = curves.w2->EvalGrey(distance[1]);
    const double w2 = curves.w3->EvalGrey(distance[2]);
    return {w0, w1, w2};
}

/// The two farther weights first, then the nearest.
double WeightSum(const Weights& w) {
    return (w.w1 + w.w2) + w.w0;
}

/// w0 K0 + w1 K1 + w2 K2; when `rescale` is 1, divided by the weight sum (multiplied by its reciprocal),
/// or the nearest corner K0 when that sum is at zero or not a number.
template <class Corner>
Corner Blend(const std::array<Corner, 3>& k, const Weights& w, int rescale) {
    const Corner sum = k[0] * w.w0 + k[1] * w.w1 + k[2] * w.w2;
    if (rescale != 1) return sum;
    const double total = WeightSum(w);
    if (std::abs(total) > zeroWeightSum) return sum * (1.0 / total);
    return k[0];
}

}  // namespace

double PlaneValue(double x, double y, const WeightCurves& curves) {
    return WeightSum(Weigh(PlaneDistances(Vec2d(x, y)), curves));
}

Vec2d PlanePoint(double x, double y, const WeightCurves& curves, int rescale) {
    const SortedTriangle<Vec2d> triangle = PlaneTriangle(Vec2d(x, y));
    return Blend(triangle.corner, Weigh(triangle.distance, curves), rescale);
}

double SphereValue(const Vec3d& p, const WeightCurves& curves, int subdivision) {
    const std::optional<std::array<double, 3>> distances = SphereDistances(p, subdivision);
    if (!distances) return 0.0;
    return WeightSum(Weigh(*distances, curves));
}

Vec3d SpherePoint(const Vec3d& p, const WeightCurves& curves, int subdivision, int rescale) {
    const std::optional<SortedTriangle<Vec3d>> triangle = SphereTriangle(p, subdivision);
    if (!triangle) return Vec3d();
    return Blend(triangle->corner, Weigh(triangle->distance, curves), rescale);
}

}  // namespace hexlattice

namespace {

using hexlattice::Settings;
using LatticeParam = ParamRow<Settings>;

// Values of the mode parameter.
constexpr int planeMode = 2;
constexpr int sphereMode = 3;
constexpr Choice modes[] = {{planeMode, "plane"}, {sphereMode, "sphere"}};

namespace param {

constexpr LatticeParam position{
    .name = "Position", .type = PTYPE::Vec3d, .value = {}, .flag = ParamFlag::Value};
constexpr LatticeParam subdivision{.name = "Subdivision",
                                   .type = PTYPE::Int,
                                   .value = {10},
                                   .flag = ParamFlag::Value,
                                   .cached = &Settings::subdivision};
constexpr LatticeParam rescale{.name = "Rescale result?",
                               .type = PTYPE::Int,
                               .value = {1},
                               .flag = ParamFlag::Control,
                               .style = ParamStyle::Switch,
                               .cached = &Settings::rescale};
// The name is the host's list box, closing square bracket and all.
constexpr LatticeParam mode{.name = "(2=plane, 3=sphere)(how to make list box]",
                            .type = PTYPE::Int,
                            .value = {sphereMode},
                            .flag = ParamFlag::Control,
                            .style = ParamStyle::Choice,
                            .range = LatticeParam::Range{{planeMode}, {sphereMode}},
                            .choices = modes,
                            .cached = &Settings::mode};

}  // namespace param

constexpr const LatticeParam* latticeParams[] = {&param::position, &param::subdivision, &param::rescale,
                                                 &param::mode};

/// 1 / sqrt(3), the circumradius of a triangle of side 1: sqrt(3) by Heron's iteration from above, which
/// ends at the correctly rounded root (1.7320508075688772, what std::sqrt gives; a test compares them).
consteval double InverseSqrt3() {
    double root = 3.0;
    for (double next = (root + 3.0 / root) / 2; next < root; next = (root + 3.0 / root) / 2)
        root = next;
    return 1 / root;
}

// Each curve's input range is the range its sorted distance takes inside a triangle of side 1: the
// nearest corner lies within 1/sqrt(3) (the circumradius), the middle one from 1/2 to 1, the farthest
// from 1/sqrt(3) to 1.
constexpr CurveRow latticeCurves[] = {
    {"W1", CurveForm::Grey, CurveRow::InputRange{0.0, InverseSqrt3()}},
    {"W2", CurveForm::Grey, CurveRow::InputRange{0.5, 1.0}},
    {"W3", CurveForm::Grey, CurveRow::InputRange{InverseSqrt3(), 1.0}},
};

/// The lattice node's `FunctionProperty`, its value for the host.
constexpr int latticeFunctionProperty = 12;

}  // namespace

constexpr NodeTable<Settings> FHexLattice::table{.params = latticeParams, .curves = latticeCurves};

FHexLattice::FHexLattice() {
    FunctionProperty = latticeFunctionProperty;
}

// Neither Clone nor Update lets an exception out: one that crosses into a host built by another
// compiler ends the host's process.

Plugged* FHexLattice::Clone(int a, int b) noexcept {
    try {
        Plugged* copy = Function::Clone(a, b);
        // The host copies parameters and curves; the settings cached by the last Update come along here.
        if (auto* lattice = dynamic_cast<FHexLattice*>(copy)) lattice->cached = cached;
        return copy;
    } catch (...) {
        return nullptr;
    }
}

void FHexLattice::Update(int a, FunContext* context) noexcept {
    const hexlattice::Settings previous = cached;
    try {
        ReadCached(cached, context);
        Function::Update(a, context);
    } catch (...) {
        cached = previous;  // a linked setting whose source failed, or the host's own Update
    }
}

Vec3d FHexLattice::Position(FunContext* context) const {
    return ParamAt<param::position>().GetVec3d(context);
}

hexlattice::WeightCurves FHexLattice::Weights() const {
    return {curves[0], curves[1], curves[2]};
}

void FHexLattice::Compute(Vec3d* out, FunContext* context) {
    if (cached.mode == planeMode) {
        const Vec3d p = Position(context);
        const Vec2d q = hexlattice::PlanePoint(p.x, p.y, Weights(), cached.rescale);
        *out = Vec3d(q.x, q.y, 0.0);
    } else if (cached.mode == sphereMode) {
        *out = hexlattice::SpherePoint(Position(context), Weights(), cached.subdivision, cached.rescale);
    }
}

void FHexLattice::Compute(Vec2d* out, FunContext* context) {
    const Vec3d p = Position(context);
    *out = hexlattice::PlanePoint(p.x, p.y, Weights(), cached.rescale);
}

void FHexLattice::Compute(double* out, FunContext* context) {
    if (cached.mode == planeMode) {
        const Vec3d p = Position(context);
        *out = hexlattice::PlaneValue(p.x, p.y, Weights());
    } else if (cached.mode == sphereMode) {
        *out = hexlattice::SphereValue(Position(context), Weights(), cached.subdivision);
    }
}
