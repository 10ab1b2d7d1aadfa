// Colour gradients: linear in RGB between stops, constant beyond the end stops.

#include "host/gradient.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

/// The value a fraction t (0 to 1) of the way from a to b: a at 0, never outside a to b. Weighting
/// the ends rather than adding t times b - a cannot overflow when a and b are far apart; the clamp
/// takes back the last ulp of rounding, without branching on the ends' signs.
double Mix(double a, double b, double t) {
    return std::min(std::max(a * (1 - t) + b * t, std::min(a, b)), std::max(a, b));
}

}  // namespace

Gradient::Gradient(const std::string& label)
    : label(label), stops{{0.0, {0.0, 0.0, 0.0}}, {1.0, {1.0, 1.0, 1.0}}} {}

Gradient::~Gradient() = default;

void Gradient::GetColour(double position, Color& colour) const {
    if (std::isnan(position)) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        colour = {nan, nan, nan};
        return;
    }
    if (position <= stops.front().position) {
        colour = stops.front().colour;
        return;
    }
    if (position >= stops.back().position) {
        colour = stops.back().colour;
        return;
    }
    // The last stop at or before the position, among all but the last stop: the position lies past
    // the first and before the last. Each step halves the candidates with a conditional move, not a
    // branch, which random positions would mispredict at every step (bench: HostPart/gradient/16).
    const Stop* before = stops.data();
    for (std::size_t n = stops.size() - 1; n > 1;) {
        const std::size_t half = n / 2;
        before = before[half].position <= position ? before + half : before;
        n -= half;
    }
    const Stop& s0 = before[0];
    const Stop& s1 = before[1];
    // Halves, as positions a whole double's range apart differ by more than a double holds. Halving
    // rounds subnormal positions, so stops one subnormal step apart can come out 0 apart; the least
    // gap keeps the position at the first of them from dividing 0 by 0.
    const double gap = std::max(s1.position / 2 - s0.position / 2, std::numeric_limits<double>::denorm_min());
    const double t = (position / 2 - s0.position / 2) / gap;
    const Color& c0 = s0.colour;
    const Color& c1 = s1.colour;
    colour = {Mix(c0.red, c1.red, t), Mix(c0.green, c1.green, t), Mix(c0.blue, c1.blue, t)};
}

void Gradient::SetStops(const std::vector<Stop>& newStops) {
    if (newStops.empty()) throw std::invalid_argument("a gradient needs at least one stop");
    for (std::size_t i = 0; i < newStops.size(); ++i) {
        const Stop& stop = newStops[i];
        const Color& c = stop.colour;
        if (!std::isfinite(stop.position) || !std::isfinite(c.red) || !std::isfinite(c.green) ||
            !std::isfinite(c.blue)) {
            throw std::invalid_argument("a gradient's stops must be finite");
        }
        if (i > 0 && !(newStops[i - 1].position < stop.position)) {
            throw std::invalid_argument("a gradient's positions must strictly increase");
        }
    }
    stops = newStops;
}
