#pragma once
/// @file
/// The "Hexagonal lattice 3D(1)" node.

#include "host/curve_holder.h"
#include "shell/node_frame.h"
#include "shell/node_plug.h"

namespace hexlattice {

/// The node's settings that `Update` caches from its int parameters; every evaluation until the next
/// `Update` uses them.
struct Settings {
    int subdivision;  ///< lattice steps along an icosahedron edge (sphere mode)
    int rescale;      ///< 1: vector results are weighted averages; else weighted sums
    int mode;         ///< 2: plane, 3: sphere; any other value writes nothing
};

/// The weight curves, read with `EvalGrey`: `w1` weighs the nearest corner's distance, `w2` the
/// middle one's, `w3` the farthest one's.
struct WeightCurves {
    const CurveHolder* w1;
    const CurveHolder* w2;
    const CurveHolder* w3;
};

/// The sum of the weights of the plane lattice triangle's corners around (x, y).
double PlaneValue(double x, double y, const WeightCurves& curves);
/// The plane lattice triangle's corners around (x, y) blended by their weights: the weighted average
/// when `rescale` is 1 (the nearest corner when the weights add up to within 1e-15 of 0), else the
/// weighted sum.
Vec2d PlanePoint(double x, double y, const WeightCurves& curves, int rescale);
/// The sum of the sphere corners' weights for the direction of p, with `subdivision` lattice steps along
/// each icosahedron edge; 0 where there is no triangle.
double SphereValue(const Vec3d& p, const WeightCurves& curves, int subdivision);
/// The sphere corners, as unit directions on p's side, blended by their weights as in `PlanePoint`;
/// (0, 0, 0) where there is no triangle.
Vec3d SpherePoint(const Vec3d& p, const WeightCurves& curves, int subdivision, int rescale);

}  // namespace hexlattice

/// Finds the lattice triangle around "Position" on the plane (mode 2) or on the icosahedron around the
/// origin (mode 3), and weighs its three corners, nearest first, with the curves "W1", "W2" and "W3".
/// The double output is the sum of the weights, the Vec3d output the corners blended by their weights,
/// and the Vec2d output the blend on the plane lattice in every mode.
///
/// "Subdivision", "Rescale result?" and the mode are read only by `Update`, which caches them; every
/// evaluation until the next `Update` uses the cached values.
class FHexLattice final : public NodeFrame<FHexLattice, nodekind::Vector> {
public:
    static constexpr unsigned int classId = firstClassId + 0;
    static constexpr const char* plugName = "Hexagonal lattice 3D(1)";
    /// The node's own name has a blank before "(1)", unlike its descriptor's.
    static constexpr const char* typeName = "Hexagonal lattice 3D (1)";
    /// Its parameters and curves (generators/hex_lattice.cpp).
    static const NodeTable<hexlattice::Settings> table;

    FHexLattice();

    int ParamObjTest(int /*a*/, int /*b*/) noexcept override { return 0; }
    int ParamObjCode(int /*a*/) noexcept override { return -1; }
    int ParamObjMap(int /*a*/, int /*b*/) noexcept override { return -1; }

    /// The host's copy with the cached settings; null when no copy could be made.
    Plugged* Clone(int a, int b) noexcept override;
    /// Caches the int settings for `context`, then lets the host's `Function::Update` run; when either
    /// fails, the node keeps the settings it had.
    void Update(int a, FunContext* context) noexcept override;

    void Compute(Vec3d* out, FunContext* context);
    void Compute(Vec2d* out, FunContext* context);
    void Compute(double* out, FunContext* context);

private:
    /// "Position" for this sample.
    Vec3d Position(FunContext* context) const;
    /// The curves "W1", "W2" and "W3".
    hexlattice::WeightCurves Weights() const;

    /// The settings cached by the last `Update`; a new node's are the parameters' defaults.
    hexlattice::Settings cached = table.CachedDefaults();
};

using FHexLatticePlug = NodePlug<FHexLattice>;
