#pragma once
/// @file
/// The hexagonal lattice of unit spacing, on the xy-plane and on the faces of an icosahedron around the
/// origin: the lattice triangle around a point, with its corners sorted by their distance from it.
///
/// Three coordinate systems meet here, and every value says which it is in:
/// - plane points (`Vec2d`, x and y) and space points (`Vec3d`, x, y and z), the caller's;
/// - `LatticeCoords` (i, j) on the plane lattice's basis (1, 0) and (1/2, sqrt(3)/2);
/// - `FaceCoords` (i, j, k) on a face record's frame V1 - V0, V2 - V0 and V0.
/// The conversions between them are named from source to target.
///
/// The kernel knows nothing of weights or curves: the caller weighs the corners. Everything is inline,
/// so that a caller that reads only the distances never stores the corners (bench:
/// Direct/lattice-*/double). Every routine is a pure function of its arguments and of constant tables:
/// it allocates nothing, keeps nothing between calls and may run on any number of threads at once.

#include <array>
#include <cmath>
#include <optional>
#include <utility>

#include "generators/vector_math.h"
#include "host/values.h"

namespace hexlattice {

/// Coordinates on the plane lattice's basis: (i, j) is the plane point (i + j/2, j sqrt(3)/2), and
/// integer (i, j) are the lattice points.
struct LatticeCoords {
    double i = 0.0;
    double j = 0.0;
};

/// Coordinates on a face record's frame: (i, j, k) is the space point i (V1 - V0) + j (V2 - V0) + k V0.
/// k = 1 on the face's plane; with k = N, integer (i, j) are the face's lattice scaled by N.
struct FaceCoords {
    double i = 0.0;
    double j = 0.0;
    double k = 0.0;
};

/// The number of face records; the other twelve faces are reached by folding and by the opposite face.
inline constexpr int faceCount = 8;

/// Three corners with their distances from a point, the nearest first (ties keep the corners' order).
template <class Corner>
struct SortedTriangle {
    std::array<Corner, 3> corner;
    std::array<double, 3> distance;
};

namespace detail {

/// A 2x2 matrix by rows.
struct Matrix2 {
    std::array<Vec2d, 2> row;
};
/// A 3x3 matrix by rows.
struct Matrix3 {
    std::array<Vec3d, 3> row;
};

struct Tables {
    /// Lattice to plane: columns (1, 0) and (1/2, sqrt(3)/2).
    Matrix2 planeBasis;
    /// Plane to lattice: the inverse of `planeBasis`, by the 2x2 rule.
    Matrix2 planeBasisInverse;
    /// Face to space: columns V1 - V0, V2 - V0 and V0 of each face record.
    std::array<Matrix3, faceCount> faceFrame;
    /// Space to face: the inverse of `faceFrame`, rows a, b and the face normal over the inradius.
    std::array<Matrix3, faceCount> faceDual;
};

/// The tables, computed from the icosahedron's vertices.
Tables ComputeTables();

/// The tables, computed on first use. A function-local static is initialised exactly once even when
/// threads race to the first call (the compiler guards it) and is only read afterwards, so any thread
/// may use it; unlike a namespace-scope table it cannot be read before its initialiser has run.
inline const Tables& GetTables() {
    static const Tables tables = ComputeTables();
    return tables;
}

inline Vec2d Apply(const Matrix2& m, double x, double y) {
    return {m.row[0].x * x + m.row[0].y * y, m.row[1].x * x + m.row[1].y * y};
}
inline Vec3d Apply(const Matrix3& m, const Vec3d& v) {
    return {Dot(m.row[0], v), Dot(m.row[1], v), Dot(m.row[2], v)};
}

inline double Distance(const Vec2d& a, const Vec2d& b) {
    const double dx = a.x - b.x;
    const double dy = a.y - b.y;
    return std::sqrt(dx * dx + dy * dy);
}
inline double Distance(const Vec3d& a, const Vec3d& b) {
    return (a - b).Length();
}

/// Sorts three corners by distance with three compare-exchanges, in the order (0, 1), (1, 2), (0, 1).
/// A pair is exchanged only when the earlier distance is strictly greater, so ties keep their order.
template <class Corner>
void SortByDistance(SortedTriangle<Corner>& triangle) {
    const auto compareExchange = [&](int a, int b) {
        if (triangle.distance[a] > triangle.distance[b]) {
            std::swap(triangle.distance[a], triangle.distance[b]);
            std::swap(triangle.corner[a], triangle.corner[b]);
        }
    };
    compareExchange(0, 1);
    compareExchange(1, 2);
    compareExchange(0, 1);
}

/// The distances alone, sorted by the same compare-exchanges, for callers that need no corners. Each
/// exchange keeps the earlier distance unless it is strictly greater, written so that it compiles to
/// minsd and maxsd rather than a branch: at samples in random order an exchange is a coin toss that a
/// branch would mispredict half the time (bench: Direct/lattice-*/double/random).
inline std::array<double, 3> SortDistances(std::array<double, 3> d) {
    const auto compareExchange = [&](int a, int b) {
        const double nearer = d[b] < d[a] ? d[b] : d[a];
        d[b] = d[a] > d[b] ? d[a] : d[b];
        d[a] = nearer;
    };
    compareExchange(0, 1);
    compareExchange(1, 2);
    compareExchange(0, 1);
    return d;
}

// The conversions on tables the caller fetched once: each fetch of the function-local static is an
// acquire load of its guard, which the compiler may not merge with the next.

inline LatticeCoords PlaneToLattice(const Tables& tables, const Vec2d& p) {
    const Vec2d c = Apply(tables.planeBasisInverse, p.x, p.y);
    return {c.x, c.y};
}
inline Vec2d LatticeToPlane(const Tables& tables, const LatticeCoords& c) {
    return Apply(tables.planeBasis, c.i, c.j);
}
inline Vec3d FaceToSpace(const Tables& tables, int face, const FaceCoords& c) {
    return Apply(tables.faceFrame[face], Vec3d(c.i, c.j, c.k));
}
inline FaceCoords SpaceToFace(const Tables& tables, int face, const Vec3d& p) {
    const Vec3d c = Apply(tables.faceDual[face], p);
    return {c.x, c.y, c.z};
}
inline const Vec3d& FaceNormal(const Tables& tables, int face) {
    return tables.faceDual[face].row[2];
}

}  // namespace detail

/// A plane point in lattice coordinates: (x - y/sqrt(3), 2y/sqrt(3)).
inline LatticeCoords PlaneToLattice(const Vec2d& p) {
    return detail::PlaneToLattice(detail::GetTables(), p);
}
/// Lattice coordinates as a plane point: (i + j/2, j sqrt(3)/2).
inline Vec2d LatticeToPlane(const LatticeCoords& c) {
    return detail::LatticeToPlane(detail::GetTables(), c);
}
/// Face record `face`'s coordinates (0 to 7) as a space point.
inline Vec3d FaceToSpace(int face, const FaceCoords& c) {
    return detail::FaceToSpace(detail::GetTables(), face, c);
}
/// A space point in face record `face`'s coordinates.
inline FaceCoords SpaceToFace(int face, const Vec3d& p) {
    return detail::SpaceToFace(detail::GetTables(), face, p);
}
/// The outward normal of face record `face` over the inradius: its dot product with a space point is
/// the point's k in the face's coordinates, 1 on the face's plane.
inline const Vec3d& FaceNormal(int face) {
    return detail::FaceNormal(detail::GetTables(), face);
}

/// The lattice triangle around `c`: first (i, j), or (i + 1, j + 1) when the fractional parts of c.i and
/// c.j add up to more than 1, then (i, j + 1) and (i + 1, j), with i = floor(c.i) and j = floor(c.j). A
/// point on the short diagonal gets the lower triangle.
inline std::array<LatticeCoords, 3> LatticeTriangle(const LatticeCoords& c) {
    const double i = std::floor(c.i);
    const double j = std::floor(c.j);
    // The cell from (i, j) to (i + 1, j + 1) splits along its short diagonal from (i, j + 1) to
    // (i + 1, j); only points strictly beyond it belong to the upper triangle.
    // The first corner's coordinates are looked up by the test's outcome, not branched to: at samples
    // in random order the branch would be mispredicted half the time (bench: Host/lattice-*/random).
    const bool upper = (c.j - j) > (i - c.i + 1);
    const double firstI[2] = {i, i + 1};
    const double firstJ[2] = {j, j + 1};
    return {{{firstI[upper], firstJ[upper]}, {i, j + 1}, {i + 1, j}}};
}

namespace detail {

/// The plane lattice triangle around p: its corners in the plane with their distances from p, in the
/// order of `LatticeTriangle`, not yet sorted.
inline SortedTriangle<Vec2d> UnsortedPlaneTriangle(const Vec2d& p) {
    const Tables& tables = GetTables();
    const std::array<LatticeCoords, 3> lattice = LatticeTriangle(PlaneToLattice(tables, p));
    SortedTriangle<Vec2d> found;
    for (int c = 0; c < 3; ++c) {
        found.corner[c] = LatticeToPlane(tables, lattice[c]);
        found.distance[c] = Distance(found.corner[c], p);
    }
    return found;
}

/// How `UnsortedSphereTriangle` scales a face coordinate by N / best, best being the folded point's k
/// on the chosen face: with the sign of best (`SphereTriangle`), or with its absolute value
/// (`SphereDistances`).
enum class FaceScale { Signed, Unsigned };

/// The sphere lattice triangle around the direction of p, before sorting, and what it takes to turn its
/// corners back to p's own side of the icosahedron.
struct FoldedTriangle {
    SortedTriangle<Vec3d> triangle;  ///< corners on the plane k = N of the chosen face, unsorted
    bool flipZ;                      ///< p had z < 0: x and z were negated
    bool flipY;                      ///< p had y < 0 (after the z fold): y was negated
    bool opposite;                   ///< the folded point points away from the face (k < 0)
};

/// Squared length below which a sphere point has no usable direction.
inline constexpr double nearOrigin = 1e-10;
/// |k| a face record must exceed to be chosen.
inline constexpr double faceThreshold = 1e-15;

/// The sphere lattice triangle around the direction of p, `subdivision` lattice steps along each
/// icosahedron edge: the corners on the plane k = N of the chosen face record with their distances
/// from p projected onto that plane. Nothing when p is within 1e-10 (squared length) of the origin or
/// no face record has |k| > 1e-15 (p not a number, say).
inline std::optional<FoldedTriangle> UnsortedSphereTriangle(const Vec3d& p, double subdivision,
                                                            FaceScale scale) {
    // Every path returns this one object, so that it is built in the caller's result: a copy of it
    // would reread corners just written, a part at a time.
    std::optional<FoldedTriangle> found;
    if (p.x * p.x + p.y * p.y + p.z * p.z < nearOrigin) return found;

    // A half-turn about the y axis ((x, z) to (-x, -z)) and the mirror y to -y map the icosahedron onto
    // itself, so folding p into z >= 0, y >= 0 leaves the faces it can point at to the eight records
    // and their opposites. The tests are strict, so +0 and -0 fold alike.
    Vec3d folded = p;
    const bool flipZ = folded.z < 0;
    if (flipZ) {
        folded.x = -folded.x;
        folded.z = -folded.z;
    }
    const bool flipY = folded.y < 0;
    if (flipY) folded.y = -folded.y;

    // The folded point's k on each face measures how far the ray through it travels to reach the
    // face's plane: the largest |k| marks the plane it meets first, a negative one the opposite face's
    // plane. Of equals, the first record wins.
    const Tables& tables = GetTables();
    double best = faceThreshold;
    int face = -1;
    for (int h = 0; h < faceCount; ++h) {
        const double k = Dot(FaceNormal(tables, h), folded);
        if (std::abs(k) > std::abs(best)) {
            best = k;
            face = h;
        }
    }
    if (face < 0) return found;

    // The folded point projected onto the plane k = N, in the face's coordinates.
    const FaceCoords onFace = SpaceToFace(tables, face, folded);
    const double s = subdivision / (scale == FaceScale::Signed ? best : std::abs(best));
    const LatticeCoords projected{onFace.i * s, onFace.j * s};

    const Vec3d point = FaceToSpace(tables, face, {projected.i, projected.j, subdivision});
    const std::array<LatticeCoords, 3> lattice = LatticeTriangle(projected);
    found.emplace(FoldedTriangle{{}, flipZ, flipY, best < 0});
    for (int c = 0; c < 3; ++c) {
        found->triangle.corner[c] = FaceToSpace(tables, face, {lattice[c].i, lattice[c].j, subdivision});
        found->triangle.distance[c] = Distance(found->triangle.corner[c], point);
    }
    return found;
}

}  // namespace detail

/// The plane lattice triangle around p: its corners in the plane, sorted by distance from p.
inline SortedTriangle<Vec2d> PlaneTriangle(const Vec2d& p) {
    SortedTriangle<Vec2d> triangle = detail::UnsortedPlaneTriangle(p);
    detail::SortByDistance(triangle);
    return triangle;
}

/// The sorted distances of `PlaneTriangle(p)`, without its corners.
inline std::array<double, 3> PlaneDistances(const Vec2d& p) {
    return detail::SortDistances(detail::UnsortedPlaneTriangle(p).distance);
}

/// The sphere lattice triangle around the direction of p, with `subdivision` lattice steps along each
/// icosahedron edge: its corners as unit directions on p's side, sorted by their distance from p
/// projected onto the face. A negative subdivision puts the lattice on the far side, so the corners
/// point away from p; with 0 the nearest corner is (0, 0, 0). Nothing when p is within 1e-10 (squared
/// length) of the origin or no face record has |k| > 1e-15 (p not a number, say).
inline std::optional<SortedTriangle<Vec3d>> SphereTriangle(const Vec3d& p, double subdivision) {
    std::optional<detail::FoldedTriangle> found =
        detail::UnsortedSphereTriangle(p, subdivision, detail::FaceScale::Signed);
    if (!found) return std::nullopt;
    SortedTriangle<Vec3d>& triangle = found->triangle;
    detail::SortByDistance(triangle);
    for (Vec3d& corner : triangle.corner) {
        // Undo the folds, and turn the opposite face's corners over to p's side.
        if (found->flipZ) {
            corner.x = -corner.x;
            corner.z = -corner.z;
        }
        if (found->flipY) corner.y = -corner.y;
        if (found->opposite) corner = Vec3d(-corner.x, -corner.y, -corner.z);
        // With N = 0 the nearest corner is the origin itself: it stays the zero vector, where scaling
        // by 1 / 0 would make it not-a-number.
        const double length = corner.Length();
        if (length != 0.0) corner *= 1.0 / length;
    }
    return triangle;
}

/// The sorted distances of the sphere lattice triangle around the direction of p. For a p that points
/// away from the face it meets (k < 0), they are measured from p projected onto the opposite face's
/// plane in the face's own frame: the same three lattice points as `SphereTriangle` finds, reached
/// without turning p over. Nothing where `SphereTriangle` gives nothing.
inline std::optional<std::array<double, 3>> SphereDistances(const Vec3d& p, double subdivision) {
    const std::optional<detail::FoldedTriangle> found =
        detail::UnsortedSphereTriangle(p, subdivision, detail::FaceScale::Unsigned);
    if (!found) return std::nullopt;
    return detail::SortDistances(found->triangle.distance);
}

}  // namespace hexlattice
