#include "quib_nodes/colour_nodes.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "quib_nodes/arithmetic.h"
#include "quib_nodes/random_hash.h"

namespace quibnodes {
namespace {

// Random's parameters, in list order.
enum RandomParam : std::size_t { randomVector, randomSeed };
// Gradient map's.
enum GradientMapParam : std::size_t { mapValue, mapStepped };
// Mix's.
enum MixParam : std::size_t { mixFactor, mixA, mixB, mixMode };

/// The random node's draws: the value, then red, green and blue.
enum Draw : unsigned int { valueDraw, redDraw, greenDraw, blueDraw };

/// The colour of the last stop of `gradient` at or before `position`, the first stop's before it;
/// not-a-number in every channel for a position that is one.
Color SteppedColour(const Gradient& gradient, double position) {
    if (std::isnan(position)) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return Color(nan, nan, nan);
    }
    const std::vector<Gradient::Stop>& stops = gradient.Stops();
    const auto after =
        std::upper_bound(stops.begin() + 1, stops.end(), position,
                         [](double p, const Gradient::Stop& stop) { return p < stop.position; });
    return (after - 1)->colour;
}

}  // namespace

void FRandom::Compute(double* out, FunContext* context) {
    const std::uint64_t key = RandomKey(At(randomVector).GetVec3d(context), At(randomSeed).GetInt(context));
    *out = RandomDraw(key, valueDraw);
}

void FRandom::Compute(Color* out, FunContext* context) {
    const std::uint64_t key = RandomKey(At(randomVector).GetVec3d(context), At(randomSeed).GetInt(context));
    *out = Color(RandomDraw(key, redDraw), RandomDraw(key, greenDraw), RandomDraw(key, blueDraw));
}

void FGradientMap::Compute(Color* out, FunContext* context) {
    const double value = At(mapValue).GetDouble(context);
    if (EntryAt(mapStepped, context) == 1) {
        *out = SteppedColour(*gradients[0], value);
    } else {
        gradients[0]->GetColour(value, *out);
    }
}

void FMix::Compute(Color* out, FunContext* context) {
    const auto mode = static_cast<BlendMode>(EntryAt(mixMode, context));
    *out =
        Blend(At(mixA).GetColor(context), At(mixB).GetColor(context), At(mixFactor).GetDouble(context), mode);
}

}  // namespace quibnodes
