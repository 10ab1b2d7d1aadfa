#pragma once
/// @file
/// The "Leapfrog fractal" node and its iteration.

#include "shell/node_frame.h"
#include "shell/node_plug.h"

/// The leapfrog iteration on the directions of `a`, `b` and `c`: each round mirrors every one of the
/// three unit vectors in the plane perpendicular to the sum of the other two, at most `iterations`
/// rounds. It stops as soon as a sum, or a mirrored vector, has a squared length below radius^2.
///
/// Returns that squared length divided by radius^2, in [0, 1) for a stop and about 1 / radius^2 after
/// all rounds (the squared length of the last mirrored vector). Returns 0 when `iterations` is below 1.
/// Nothing is guarded: a zero vector gives not-a-number, a zero radius +infinity or not-a-number.
/// Pure: no allocation, safe on any thread.
double LeapFrogValue(Vec3d a, Vec3d b, Vec3d c, double radius, int iterations);

/// The leapfrog iteration as a node: a real result from the parameters "A", "B", "C" (directions),
/// "Radius" and "Iterations".
class FLeapFrogFractal final : public NodeFrame<FLeapFrogFractal, nodekind::Real> {
public:
    static constexpr unsigned int classId = firstClassId + 4;
    static constexpr const char* typeName = "Leapfrog fractal";
    /// Its parameters (generators/leapfrog_fractal.cpp).
    static const NodeTable<> table;

    FLeapFrogFractal();

    void Compute(double* out, FunContext* context);
};

using FLeapFrogFractalPlug = NodePlug<FLeapFrogFractal>;
