#pragma once
/// @file
/// User-edited colour gradients.

#include <string>
#include <utility>
#include <vector>

#include "host/values.h"

/// A colour gradient: colour stops at strictly increasing positions, linear in RGB between them and
/// constant beyond the end stops. A new gradient runs from black at 0 to white at 1. Lookups allocate
/// nothing and are safe from any number of threads at once.
class Gradient {
public:
    struct Stop {
        double position = 0.0;
        Color colour;
    };

    explicit Gradient(const std::string& label);
    virtual ~Gradient();
    Gradient(const Gradient&) = delete;
    Gradient& operator=(const Gradient&) = delete;

    /// Writes the colour at `position` into all three channels of `colour`.
    void GetColour(double position, Color& colour) const;

    const std::string& Label() const { return label; }
    const std::vector<Stop>& Stops() const { return stops; }
    /// Replaces the stops. Throws std::invalid_argument, and changes nothing, unless there is at least
    /// one stop, every number is finite and the positions strictly increase.
    void SetStops(const std::vector<Stop>& newStops);

private:
    friend class Function;  // Function::Load puts the stops it checked in place without allocating

    /// Puts checked stops in place; allocates nothing.
    void Take(std::vector<Stop>&& checked) noexcept { stops = std::move(checked); }

    std::string label;
    std::vector<Stop> stops;
};
