#pragma once
/// @file
/// The hexagonal lattice of unit spacing, on the xy-plane and on the faces of an icosahedron around the
/// origin: the lattice triangle around a point, its corners sorted by distance, and their weights.
///
/// Every routine here is a pure function of its arguments and of constant tables: it allocates nothing,
/// keeps nothing between calls and may run on any number of threads at once.

#include <array>
#include <optional>

#include "host/curve_holder.h"
#include "host/values.h"

namespace hexlattice {

/// The weight curves, read with `EvalGrey`: `w1` weighs the nearest corner's distance, `w2` the
/// middle one's, `w3` the farthest one's.
struct WeightCurves {
    const CurveHolder* w1;
    const CurveHolder* w2;
    const CurveHolder* w3;
};

/// A 2x2 matrix by rows.
struct Matrix2 {
    std::array<Vec2d, 2> row;
};

/// A 3x3 matrix by rows.
struct Matrix3 {
    std::array<Vec3d, 3> row;
};

/// The number of face records; the other twelve faces are reached by folding and by the opposite face.
inline constexpr int faceCount = 8;

/// Columns (1, 0) and (1/2, sqrt(3)/2): lattice (i, j) to the plane point (i + j/2, j * sqrt(3)/2).
const Matrix2& PlaneBasis();
/// The inverse of `PlaneBasis`: a plane point (x, y) to lattice (u, v) = (x - y/sqrt(3), 2y/sqrt(3)).
const Matrix2& PlaneBasisInverse();
/// Columns V1 - V0, V2 - V0 and V0 of face record `face` (0 to 7) of the icosahedron of edge 1: maps
/// face lattice (i, j, k) to space; with k = N the integer (i, j) give the face's lattice scaled by N.
const Matrix3& FaceFrame(int face);
/// The inverse of `FaceFrame(face)`, rows a, b and n: a.x and b.x are a point's face lattice
/// coordinates, and n.x = 1 on the face's plane (n is the outward normal over the inradius).
const Matrix3& FaceDual(int face);

/// Three corners with their distances from a point, the nearest first (ties keep the corners' order).
template <class Corner>
struct SortedCorners {
    std::array<Corner, 3> corner;
    std::array<double, 3> distance;
};

/// The lattice triangle around lattice coordinates (u, v), as lattice coordinates: first (i, j), or
/// (i + 1, j + 1) when the fractional parts of u and v add up to more than 1, then (i, j + 1) and
/// (i + 1, j), with i = floor(u) and j = floor(v). A point on the short diagonal gets the lower triangle.
std::array<Vec2d, 3> LatticeTriangle(double u, double v);

/// The plane lattice triangle around (x, y): its corners in the plane, sorted by distance.
SortedCorners<Vec2d> PlaneCorners(double x, double y);

/// The sum of the plane corners' weights, (w3 + w2) + w1.
double PlaneValue(double x, double y, const WeightCurves& curves);
/// The plane corners blended by their weights: the weighted average when `rescale` is 1 (the nearest
/// corner when the weights add up to within 1e-15 of 0), else the weighted sum.
Vec2d PlanePoint(double x, double y, const WeightCurves& curves, int rescale);
/// The sum of the sphere corners' weights for the direction of p, with `subdivision` lattice steps along
/// each icosahedron edge; 0 where there is no triangle: p within 1e-10 (squared length) of the origin,
/// or no face record with |n.p| > 1e-15 (p not a number, say).
double SphereValue(const Vec3d& p, const WeightCurves& curves, int subdivision);
/// The sphere corners turned back to p's side, scaled to unit length and blended by their weights as in
/// `PlanePoint`; (0, 0, 0) where there is no triangle. A negative `subdivision` puts the
/// lattice on the far side, so the corners point away from p.
Vec3d SpherePoint(const Vec3d& p, const WeightCurves& curves, int subdivision, int rescale);

}  // namespace hexlattice
