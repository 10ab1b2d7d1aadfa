#include "generators/hex_lattice_geometry.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace hexlattice {
namespace {

/// Squared length below which a sphere point has no usable direction.
constexpr double nearOrigin = 1e-10;
/// |n.p| a face record must exceed to be chosen.
constexpr double faceThreshold = 1e-15;
/// |sum of the weights| at or below which a weighted average gives the nearest corner instead.
constexpr double zeroWeightSum = 1e-15;

/// Where an icosahedron vertex sits: on the upper ring (z = r/2), the lower ring (z = -r/2), or the apex.
enum class Ring { Upper, Lower, Apex };

struct Vertex {
    Ring ring;
    double degrees;  ///< azimuth on the ring; unused for the apex
};

/// V0, V1, V2 of each face record. Records 0 to 4 are the faces with two vertices on the upper ring,
/// records 5 to 7 the apex faces centred at azimuth 72, 0 and 144 degrees.
constexpr std::array<std::array<Vertex, 3>, faceCount> faceRecords = {{
    {{{Ring::Lower, 0}, {Ring::Upper, 36}, {Ring::Upper, -36}}},       // record 0
    {{{Ring::Upper, 108}, {Ring::Lower, 144}, {Ring::Upper, 180}}},    // record 1
    {{{Ring::Upper, 36}, {Ring::Lower, 72}, {Ring::Upper, 108}}},      // record 2
    {{{Ring::Upper, 180}, {Ring::Lower, -144}, {Ring::Upper, -108}}},  // record 3
    {{{Ring::Upper, -108}, {Ring::Lower, -72}, {Ring::Upper, -36}}},   // record 4
    {{{Ring::Upper, 36}, {Ring::Upper, 108}, {Ring::Apex, 0}}},        // record 5
    {{{Ring::Upper, -36}, {Ring::Upper, 36}, {Ring::Apex, 0}}},        // record 6
    {{{Ring::Upper, 108}, {Ring::Upper, 180}, {Ring::Apex, 0}}},       // record 7
}};

double Dot(const Vec2d& a, const Vec2d& b) {
    return a.x * b.x + a.y * b.y;
}
double Dot(const Vec3d& a, const Vec3d& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3d Cross(const Vec3d& a, const Vec3d& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vec2d Apply(const Matrix2& m, const Vec2d& v) {
    return {Dot(m.row[0], v), Dot(m.row[1], v)};
}
Vec3d Apply(const Matrix3& m, const Vec3d& v) {
    return {Dot(m.row[0], v), Dot(m.row[1], v), Dot(m.row[2], v)};
}

/// The 2x2 rule: rows (a, b), (c, d) invert to 1/(ad - bc) times rows (d, -b), (-c, a).
Matrix2 Inverse(const Matrix2& m) {
    const double a = m.row[0].x, b = m.row[0].y, c = m.row[1].x, d = m.row[1].y;
    const double k = 1.0 / (a * d - b * c);
    return {{Vec2d(k * d, k * -b), Vec2d(k * -c, k * a)}};
}

/// The matrix with columns c0, c1, c2.
Matrix3 FromColumns(const Vec3d& c0, const Vec3d& c1, const Vec3d& c2) {
    return {{Vec3d(c0.x, c1.x, c2.x), Vec3d(c0.y, c1.y, c2.y), Vec3d(c0.z, c1.z, c2.z)}};
}
/// The inverse of the matrix with columns c0, c1, c2: its rows are the cross products of the other two
/// columns over the determinant c0.(c1 x c2).
Matrix3 InverseOfColumns(const Vec3d& c0, const Vec3d& c1, const Vec3d& c2) {
    const Vec3d row0 = Cross(c1, c2);
    const double k = 1.0 / Dot(c0, row0);
    return {{row0 * k, Cross(c2, c0) * k, Cross(c0, c1) * k}};
}

struct Tables {
    Matrix2 planeBasis;
    Matrix2 planeBasisInverse;
    std::array<Matrix3, faceCount> faceFrame;
    std::array<Matrix3, faceCount> faceDual;
};

Tables ComputeTables() {
    Tables tables;
    const double sqrt3Half = std::sqrt(3.0) * 0.5;  // sqrt(3)/2, the height of a unit triangle
    tables.planeBasis = {{Vec2d(1.0, 0.5), Vec2d(0.0, sqrt3Half)}};
    tables.planeBasisInverse = Inverse(tables.planeBasis);

    // The icosahedron of edge 1 with its apex on the z axis. Neighbours on a ring are 72 degrees apart,
    // a chord 2r sin(36 deg) = 1; a ring vertex and its two nearest on the other ring span 2r sin(18 deg)
    // across, so the rings lie r apart in height; the apex is 1 from each upper-ring vertex.
    const double ringRadius = 0.5 / std::sin(std::numbers::pi / 5);                 // r
    const double ringHeight = ringRadius / 2;                                       // r/2
    const double apexHeight = ringHeight + std::sqrt(1 - ringRadius * ringRadius);  // r/2 + sqrt(1 - r^2)
    const auto position = [&](const Vertex& v) {
        if (v.ring == Ring::Apex) return Vec3d(0.0, 0.0, apexHeight);
        const double angle = v.degrees * std::numbers::pi / 180;
        const double z = v.ring == Ring::Upper ? ringHeight : -ringHeight;
        return Vec3d(ringRadius * std::cos(angle), ringRadius * std::sin(angle), z);
    };
    for (int h = 0; h < faceCount; ++h) {
        const Vec3d v0 = position(faceRecords[h][0]);
        const Vec3d e1 = position(faceRecords[h][1]) - v0;
        const Vec3d e2 = position(faceRecords[h][2]) - v0;
        tables.faceFrame[h] = FromColumns(e1, e2, v0);
        tables.faceDual[h] = InverseOfColumns(e1, e2, v0);
    }
    return tables;
}

/// The tables, computed on first use. A function-local static is initialised exactly once even when
/// threads race to the first call (the compiler guards it) and is only read afterwards, so any thread
/// may use it; unlike a namespace-scope table it cannot be read before its initialiser has run.
const Tables& GetTables() {
    static const Tables tables = ComputeTables();
    return tables;
}

double Distance(const Vec2d& a, const Vec2d& b) {
    const double dx = a.x - b.x;
    const double dy = a.y - b.y;
    return std::sqrt(dx * dx + dy * dy);
}
double Distance(const Vec3d& a, const Vec3d& b) {
    return (a - b).Length();
}

/// Sorts three corners by distance with three compare-exchanges, in the order (0, 1), (1, 2), (0, 1).
/// A pair is exchanged only when the earlier distance is strictly greater, so ties keep their order.
template <class Corner>
void SortByDistance(SortedCorners<Corner>& corners) {
    const auto compareExchange = [&](int a, int b) {
        if (corners.distance[a] > corners.distance[b]) {
            std::swap(corners.distance[a], corners.distance[b]);
            std::swap(corners.corner[a], corners.corner[b]);
        }
    };
    compareExchange(0, 1);
    compareExchange(1, 2);
    compareExchange(0, 1);
}

/// The distances alone, sorted by the same compare-exchanges, for the value routines, which need no
/// corners. Each exchange keeps the earlier distance unless it is strictly greater, written so that it
/// compiles to minsd and maxsd rather than a branch: at samples in random order an exchange is a coin
/// toss that a branch would mispredict half the time (bench: Direct/lattice-*/double/random).
std::array<double, 3> SortDistances(std::array<double, 3> d) {
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

double WeightSum(const Weights& w) {
    return (w.w2 + w.w1) + w.w0;
}

/// w0 K0 + w1 K1 + w2 K2; when `rescale` is 1, divided by the weight sum (multiplied by its reciprocal),
/// or the nearest corner K0 when that sum is at zero or not a number.
template <class Corner>
Corner Blend(const std::array<Corner, 3>& k, const Weights& w, int rescale) {
    const Corner sum = k[0] * w.w0 + k[1] * w.w1 + k[2] * w.w2;
    if (rescale != 1) return sum;
    const double total = (w.w1 + w.w2) + w.w0;
    if (std::abs(total) > zeroWeightSum) return sum * (1.0 / total);
    return k[0];
}

}  // namespace

const Matrix2& PlaneBasis() {
    return GetTables().planeBasis;
}
const Matrix2& PlaneBasisInverse() {
    return GetTables().planeBasisInverse;
}
const Matrix3& FaceFrame(int face) {
    return GetTables().faceFrame[face];
}
const Matrix3& FaceDual(int face) {
    return GetTables().faceDual[face];
}

std::array<Vec2d, 3> LatticeTriangle(double u, double v) {
    const double i = std::floor(u);
    const double j = std::floor(v);
    // The cell from (i, j) to (i + 1, j + 1) splits along its short diagonal from (i, j + 1) to
    // (i + 1, j); only points strictly beyond it belong to the upper triangle.
    // The first corner's coordinates are looked up by the test's outcome, not branched to: at samples
    // in random order the branch would be mispredicted half the time (bench: Host/lattice-*/random).
    const bool upper = (v - j) > (i - u + 1);
    const double firstI[2] = {i, i + 1};
    const double firstJ[2] = {j, j + 1};
    return {Vec2d(firstI[upper], firstJ[upper]), Vec2d(i, j + 1), Vec2d(i + 1, j)};
}

namespace {

/// The plane lattice triangle around (x, y): its corners in the plane with their distances from it, in
/// the order of `LatticeTriangle` until `SortByDistance` sorts them. Inline, as GCC would otherwise keep
/// it a call for its two callers; inlined into `PlaneValue`, the corners it does not need are never
/// stored (bench: Direct/lattice-plane/double).
inline SortedCorners<Vec2d> PlaneTriangle(double x, double y) {
    const Tables& tables = GetTables();
    const Vec2d point(x, y);
    const Vec2d lattice = Apply(tables.planeBasisInverse, point);
    const std::array<Vec2d, 3> triangle = LatticeTriangle(lattice.x, lattice.y);
    SortedCorners<Vec2d> found;
    for (int c = 0; c < 3; ++c) {
        found.corner[c] = Apply(tables.planeBasis, triangle[c]);
        found.distance[c] = Distance(found.corner[c], point);
    }
    return found;
}

/// How `FindSphereTriangle` scales a face lattice coordinate by N / best, best being n.p of the face:
/// with the sign of best (the corners of `SpherePoint`), or with its absolute value (`SphereValue`).
enum class FaceScale { Signed, Unsigned };

/// The sphere lattice triangle around the direction of p: its corners on the plane n.x = N of the
/// chosen face record with their distances from p projected onto that plane, in the order of
/// `LatticeTriangle` until `SortByDistance` sorts them, and what it takes to turn them back to p's own
/// side of the icosahedron.
struct SphereTriangle {
    SortedCorners<Vec3d> corners;
    bool flipZ;     ///< p had z < 0: x and z were negated
    bool flipY;     ///< p had y < 0 (after the z fold): y was negated
    bool opposite;  ///< the folded point points away from the face (n.p < 0)
};

/// The sphere lattice triangle around the direction of p, N lattice steps along each icosahedron
/// edge; nothing when p is within 1e-10 (squared length) of the origin or no face record has
/// |n.p| > 1e-15 (p not a number, say).
inline std::optional<SphereTriangle> FindSphereTriangle(const Vec3d& p, double n, FaceScale scale) {
    // Every path returns this one object, so that it is built in the caller's result: a copy of it
    // would reread corners just written, a part at a time. Inline, so that `SphereValue` does not store
    // the corners it never reads (bench: Direct/lattice-sphere/double/raster).
    std::optional<SphereTriangle> found;
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

    // n.p scaled to the inradius measures how far the ray through p travels to reach each face's plane:
    // the largest |n.p| marks the plane it meets first, a negative one the opposite face's plane. Of
    // equals, the first record wins.
    const Tables& tables = GetTables();
    double best = faceThreshold;
    int face = -1;
    for (int h = 0; h < faceCount; ++h) {
        const double d = Dot(tables.faceDual[h].row[2], folded);
        if (std::abs(d) > std::abs(best)) {
            best = d;
            face = h;
        }
    }
    if (face < 0) return found;

    // Face lattice coordinates of the folded point projected onto the plane n.x = N.
    const Matrix3& dual = tables.faceDual[face];
    const double s = n / (scale == FaceScale::Signed ? best : std::abs(best));
    const double u = Dot(dual.row[0], folded) * s;
    const double v = Dot(dual.row[1], folded) * s;

    const Matrix3& frame = tables.faceFrame[face];
    const Vec3d projected = Apply(frame, Vec3d(u, v, n));
    const std::array<Vec2d, 3> triangle = LatticeTriangle(u, v);
    found.emplace(SphereTriangle{{}, flipZ, flipY, best < 0});
    for (int c = 0; c < 3; ++c) {
        found->corners.corner[c] = Apply(frame, Vec3d(triangle[c].x, triangle[c].y, n));
        found->corners.distance[c] = Distance(found->corners.corner[c], projected);
    }
    return found;
}

}  // namespace

SortedCorners<Vec2d> PlaneCorners(double x, double y) {
    SortedCorners<Vec2d> corners = PlaneTriangle(x, y);
    SortByDistance(corners);
    return corners;
}

double PlaneValue(double x, double y, const WeightCurves& curves) {
    return WeightSum(Weigh(SortDistances(PlaneTriangle(x, y).distance), curves));
}

Vec2d PlanePoint(double x, double y, const WeightCurves& curves, int rescale) {
    const SortedCorners<Vec2d> sorted = PlaneCorners(x, y);
    return Blend(sorted.corner, Weigh(sorted.distance, curves), rescale);
}

double SphereValue(const Vec3d& p, const WeightCurves& curves, int subdivision) {
    const std::optional<SphereTriangle> found = FindSphereTriangle(p, subdivision, FaceScale::Unsigned);
    if (!found) return 0.0;
    return WeightSum(Weigh(SortDistances(found->corners.distance), curves));
}

Vec3d SpherePoint(const Vec3d& p, const WeightCurves& curves, int subdivision, int rescale) {
    std::optional<SphereTriangle> found = FindSphereTriangle(p, subdivision, FaceScale::Signed);
    if (!found) return Vec3d();
    SortedCorners<Vec3d>& sorted = found->corners;
    SortByDistance(sorted);
    std::array<Vec3d, 3> unit = sorted.corner;
    for (Vec3d& k : unit) {
        // Undo the folds, and turn the opposite face's corners over to p's side.
        if (found->flipZ) {
            k.x = -k.x;
            k.z = -k.z;
        }
        if (found->flipY) k.y = -k.y;
        if (found->opposite) k = Vec3d(-k.x, -k.y, -k.z);
        // With N = 0 the nearest corner is the origin itself: it stays the zero vector, where scaling
        // by 1 / 0 would make it not-a-number.
        const double length = k.Length();
        if (length != 0.0) k *= 1.0 / length;
    }
    return Blend(unit, Weigh(sorted.distance, curves), rescale);
}

}  // namespace hexlattice
