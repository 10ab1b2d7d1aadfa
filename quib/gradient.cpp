// Colour gradients: linear in RGB between stops, constant beyond the end stops.

#include "host/gradient.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

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
    const double t = (position - s0.position) / (s1.position - s0.position);
    const Color& c0 = s0.colour;
    const Color& c1 = s1.colour;
    colour = {c0.red + (c1.red - c0.red) * t, c0.green + (c1.green - c0.green) * t,
              c0.blue + (c1.blue - c0.blue) * t};
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
