// The hexagonal lattice geometry: the computed tables, the plane triangle and its sorted corners, and
// the sphere lattice's symmetries and guards.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "generators/hex_lattice_geometry.h"

namespace {

using namespace hexlattice;

const double inverseSqrt3 = 1 / std::sqrt(3.0);
const double sqrt3Half = std::sqrt(3.0) * 0.5;

/// Three weight curves over the node's input ranges, through the points given.
class Curves {
public:
    using Points = std::vector<CurveHolder::Point>;

    Curves(const Points& p1, const Points& p2, const Points& p3) {
        w1.SetInputRange(0.0, inverseSqrt3);
        w2.SetInputRange(0.5, 1.0);
        w3.SetInputRange(inverseSqrt3, 1.0);
        w1.SetPoints(0, p1);
        w2.SetPoints(0, p2);
        w3.SetPoints(0, p3);
    }
    /// Each curve constant at its weight.
    static Curves Constant(double c1, double c2, double c3) {
        return Curves({{0, c1}, {1, c1}}, {{0, c2}, {1, c2}}, {{0, c3}, {1, c3}});
    }
    /// Curves with distinct slopes, so that a weight read at the wrong distance shows.
    static Curves Bent() {
        return Curves({{0, 0.3}, {0.3, 0.5}, {inverseSqrt3, 0.9}}, {{0.5, 2}, {0.8, 2.5}, {1, 5}},
                      {{inverseSqrt3, -1}, {0.8, 1}, {1, 7}});
    }

    WeightCurves Get() const { return {&w1, &w2, &w3}; }
    /// W1 at d0 + W2 at d1 + W3 at d2, read straight from the curves.
    double Sum(double d0, double d1, double d2) const {
        return (w3.EvalGrey(d2) + w2.EvalGrey(d1)) + w1.EvalGrey(d0);
    }

private:
    CurveHolder w1{1, "W1"}, w2{1, "W2"}, w3{1, "W3"};
};

double Dot(const Vec3d& a, const Vec3d& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3d Column(const Matrix3& m, int c) {
    const auto pick = [c](const Vec3d& row) { return c == 0 ? row.x : c == 1 ? row.y : row.z; };
    return {pick(m.row[0]), pick(m.row[1]), pick(m.row[2])};
}

/// The largest difference between two vectors' components.
double Gap(const Vec2d& a, const Vec2d& b) {
    return std::max(std::abs(a.x - b.x), std::abs(a.y - b.y));
}
double Gap(const Vec3d& a, const Vec3d& b) {
    return std::max({std::abs(a.x - b.x), std::abs(a.y - b.y), std::abs(a.z - b.z)});
}

/// Unit directions spread evenly over the sphere, the same on every run.
std::vector<Vec3d> RandomDirections(int count) {
    std::mt19937_64 random(20240611);
    std::normal_distribution<double> normal;
    std::vector<Vec3d> directions;
    while (static_cast<int>(directions.size()) < count) {
        Vec3d p(normal(random), normal(random), normal(random));
        if (p.Length() < 1e-3) continue;
        p.Normalize();
        directions.push_back(p);
    }
    return directions;
}

/// The rotation by `angle` about the unit axis, applied to p (Rodrigues' formula).
Vec3d Rotate(const Vec3d& p, const Vec3d& axis, double angle) {
    const Vec3d across(axis.y * p.z - axis.z * p.y, axis.z * p.x - axis.x * p.z, axis.x * p.y - axis.y * p.x);
    return p * std::cos(angle) + across * std::sin(angle) + axis * (Dot(axis, p) * (1 - std::cos(angle)));
}

// ---- the tables ---------------------------------------------------------------------------------

TEST(LatticeTables, MatchTheirFigures) {
    // The plane basis and its inverse to the last bit: the corner order at the origin rests on it.
    const Matrix2& basis = PlaneBasis();
    const Matrix2& inverse = PlaneBasisInverse();
    const double plane[][2] = {
        {basis.row[0].x, 1.0},   {basis.row[0].y, 0.5},
        {basis.row[1].x, 0.0},   {basis.row[1].y, 0.8660254037844386},
        {inverse.row[0].x, 1.0}, {inverse.row[0].y, -0.5773502691896258},
        {inverse.row[1].x, 0.0}, {inverse.row[1].y, 1.1547005383792517},
    };
    for (const auto& entry : plane)
        EXPECT_EQ(entry[0], entry[1]);

    const Matrix3 frame = {{Vec3d(-0.1624598481, -0.1624598481, 0.8506508084), Vec3d(0.5, -0.5, 0),
                            Vec3d(0.8506508084, 0.8506508084, -0.4253254042)}};
    const Matrix3 dual = {{Vec3d(0.3249196962, 1, 0.6498393925), Vec3d(0.3249196962, -1, 0.6498393925),
                           Vec3d(1.2996787849, 0, 0.2482165607)}};
    for (int r = 0; r < 3; ++r) {
        EXPECT_LE(Gap(FaceFrame(0).row[r], frame.row[r]), 1e-10) << "frame row " << r;
        EXPECT_LE(Gap(FaceDual(0).row[r], dual.row[r]), 1e-10) << "dual row " << r;
    }
}

TEST(LatticeTables, EveryRecordIsAFaceOfEdgeOneAndItsDualInvertsIt) {
    for (int h = 0; h < faceCount; ++h) {
        SCOPED_TRACE(h);
        const Matrix3& frame = FaceFrame(h);
        const Matrix3& dual = FaceDual(h);
        const Vec3d e1 = Column(frame, 0), e2 = Column(frame, 1), v0 = Column(frame, 2);
        for (const Vec3d& edge : {e1, e2, e2 - e1})
            EXPECT_NEAR(edge.Length(), 1.0, 1e-15);
        for (const Vec3d& vertex : {v0, v0 + e1, v0 + e2})
            EXPECT_NEAR(vertex.Length(), 0.9510565162951536, 1e-15);
        EXPECT_NEAR(dual.row[2].Length(), 1.323169076499215, 1e-14);
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(Dot(dual.row[r], Column(frame, c)), r == c, 1e-15);
        }
    }
}

// ---- the plane ----------------------------------------------------------------------------------

TEST(PlaneLattice, TriangleSplitsItsCellAlongTheShortDiagonal) {
    const struct {
        double u, v;
        Vec2d first, cell;  // the first corner, and (i, j)
    } cases[] = {
        {0.0, 0.0, {0, 0}, {0, 0}},
        {0.25, 0.75, {0, 0}, {0, 0}},  // on the diagonal: the lower triangle
        {0.25, std::nextafter(0.75, 1.0), {1, 1}, {0, 0}},
        {0.9, 0.9, {1, 1}, {0, 0}},
        {-0.75, -0.25, {-1, -1}, {-1, -1}},  // on the diagonal of a negative cell
        {2.5, 3.6, {3, 4}, {2, 3}},
    };
    for (const auto& c : cases) {
        const std::array<Vec2d, 3> triangle = LatticeTriangle(c.u, c.v);
        const Vec2d expected[] = {c.first, {c.cell.x, c.cell.y + 1}, {c.cell.x + 1, c.cell.y}};
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(Gap(triangle[k], expected[k]), 0.0) << c.u << ", " << c.v;
    }
}

TEST(PlaneLattice, CornersAtKnownPointsComeInTheirOrder) {
    const Curves bent = Curves::Bent();
    const struct {
        const char* what;
        Vec2d point;
        std::array<Vec2d, 3> corner;
        std::array<double, 3> distance;
    } cases[] = {
        // (1/2, sqrt(3)/2) sorts before (1, 0) because its squared distance rounds to just below 1.
        {"origin", {0, 0}, {{{0, 0}, {0.5, sqrt3Half}, {1, 0}}}, {0, 1, 1}},
        // Tied, (0, 0) keeps its slot before (1, 0).
        {"half an edge", {0.5, 0}, {{{0, 0}, {1, 0}, {0.5, sqrt3Half}}}, {0.5, 0.5, sqrt3Half}},
        {"near (1, 0)", {0.9, 0.1}, {{{1, 0}, {0.5, sqrt3Half}, {0, 0}}}, {}},
        {"upper triangle", {1.0, 0.8}, {{{1.5, sqrt3Half}, {0.5, sqrt3Half}, {1, 0}}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const SortedCorners<Vec2d> sorted = PlaneCorners(c.point.x, c.point.y);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(Gap(sorted.corner[k], c.corner[k]), 0.0) << k;
            const double expected = std::hypot(c.corner[k].x - c.point.x, c.corner[k].y - c.point.y);
            EXPECT_NEAR(sorted.distance[k], expected, 1e-15);
            EXPECT_NEAR(sorted.distance[k], c.distance[k] ? c.distance[k] : expected, 1e-15);
        }
        const std::array<double, 3>& d = sorted.distance;
        EXPECT_NEAR(PlaneValue(c.point.x, c.point.y, bent.Get()), bent.Sum(d[0], d[1], d[2]), 1e-15);
    }
    EXPECT_NEAR(PlaneValue(0, 0, bent.Get()), bent.Sum(0, 1, 1), 1e-12);
}

TEST(PlaneLattice, SortedDistancesStayWithinTheCurveRanges) {
    constexpr double slack = 1e-12;
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> coordinate(-50.0, 50.0);
    for (int n = 0; n < 20000; ++n) {
        const double x = coordinate(random), y = coordinate(random);
        const SortedCorners<Vec2d> sorted = PlaneCorners(x, y);
        const std::array<double, 3>& d = sorted.distance;
        ASSERT_TRUE(0 <= d[0] && d[0] <= d[1] && d[1] <= d[2]) << x << ", " << y;
        ASSERT_LE(d[0], inverseSqrt3 + slack);
        ASSERT_TRUE(0.5 - slack <= d[1] && d[1] <= 1 + slack);
        ASSERT_TRUE(inverseSqrt3 - slack <= d[2] && d[2] <= 1 + slack);
        for (int a = 0; a < 3; ++a) {
            const Vec2d side = sorted.corner[a] + sorted.corner[(a + 1) % 3] * -1.0;
            ASSERT_NEAR(std::hypot(side.x, side.y), 1.0, slack) << "a triangle of side 1";
        }
    }
}

TEST(PlaneLattice, PointBlendsCornersByRescaleSetting) {
    const Curves weights = Curves::Constant(0.5, 0.25, 0.125);
    const Curves zeroSum = Curves::Constant(1, -1, 0);
    const double x = 3.3, y = -1.2;
    const SortedCorners<Vec2d> s = PlaneCorners(x, y);
    const Vec2d sum = s.corner[0] * 0.5 + s.corner[1] * 0.25 + s.corner[2] * 0.125;
    const struct {
        const Curves& curves;
        int rescale;
        Vec2d expected;
    } cases[] = {
        {weights, 1, sum * (1 / 0.875)}, {weights, 0, sum}, {weights, 2, sum}, {weights, -1, sum},
        {zeroSum, 1, s.corner[0]},  // the nearest corner instead of a division by zero
    };
    for (const auto& c : cases)
        EXPECT_LE(Gap(PlanePoint(x, y, c.curves.Get(), c.rescale), c.expected), 1e-14);
}

// ---- the sphere ---------------------------------------------------------------------------------

TEST(SphereLattice, OnlyTheLineThroughTheOriginCounts) {
    const Curves bent = Curves::Bent();
    for (int subdivision : {1, 7, 10}) {
        for (const Vec3d& p : RandomDirections(3000)) {
            const double value = SphereValue(p, bent.Get(), subdivision);
            const Vec3d point = SpherePoint(p, bent.Get(), subdivision, 1);
            // -p reaches the same distances, and mirrored corners.
            ASSERT_NEAR(SphereValue(p * -1.0, bent.Get(), subdivision), value, 1e-12);
            ASSERT_LE(Gap(SpherePoint(p * -1.0, bent.Get(), subdivision, 1), point * -1.0), 1e-12);
            for (double length : {1e-4, 1000.0}) {
                ASSERT_NEAR(SphereValue(p * length, bent.Get(), subdivision), value, 1e-12);
                ASSERT_LE(Gap(SpherePoint(p * length, bent.Get(), subdivision, 1), point), 1e-12);
            }
        }
    }
}

// The lattice on every face is the same triangular lattice, so rotations that map the icosahedron onto
// itself map the sphere lattice onto itself: the value stays, the blended corner turns along. Rotated
// directions land on other faces, folds and opposite faces than their originals.
TEST(SphereLattice, IcosahedronRotationsMapTheLatticeOntoItself) {
    const double pi = std::numbers::pi;
    const Matrix3& apexFace = FaceFrame(6);  // U(-36), U(36) and the apex
    const Vec3d v0 = Column(apexFace, 2), v1 = v0 + Column(apexFace, 0), v2 = v0 + Column(apexFace, 1);
    const Vec3d faceCentre = (v0 + v1 + v2) * (1 / (v0 + v1 + v2).Length());
    const Vec3d edgeMiddle = (v0 + v1) * (1 / (v0 + v1).Length());
    const struct {
        Vec3d axis;
        double angle;
    } rotations[] = {
        {{0, 0, 1}, 2 * pi / 5}, {{0, 0, 1}, 6 * pi / 5}, {faceCentre, 2 * pi / 3}, {edgeMiddle, pi}};
    const Curves bent = Curves::Bent();
    for (const auto& r : rotations) {
        for (const Vec3d& p : RandomDirections(2000)) {
            const Vec3d q = Rotate(p, r.axis, r.angle);
            ASSERT_NEAR(SphereValue(q, bent.Get(), 10), SphereValue(p, bent.Get(), 10), 1e-11) << r.angle;
            const Vec3d turned = Rotate(SpherePoint(p, bent.Get(), 10, 1), r.axis, r.angle);
            ASSERT_LE(Gap(SpherePoint(q, bent.Get(), 10, 1), turned), 1e-11) << r.angle;
        }
    }
}

// The nearest corner lies within 1/sqrt(3) of P on a face plane at least |N| * inradius from the origin,
// so it is seen from the origin within atan((1/sqrt(3)) / (|N| * inradius)) of p, or of -p for a
// negative N.
TEST(SphereLattice, NearestCornerLiesTowardsPOrAwayForNegativeSubdivision) {
    constexpr double inradius = 0.7557613140761708;
    const Curves nearestOnly = Curves::Constant(1, 0, 0);
    const Curves zeroSum = Curves::Constant(1, -1, 0);
    for (int subdivision : {1, 3, 10, 100, -1, -10}) {
        const double side = subdivision > 0 ? 1.0 : -1.0;
        const double bound = std::cos(std::atan(inverseSqrt3 / (std::abs(subdivision) * inradius)));
        for (const Vec3d& p : RandomDirections(2000)) {
            const Vec3d corner = SpherePoint(p, nearestOnly.Get(), subdivision, 0);
            ASSERT_NEAR(corner.Length(), 1.0, 1e-15);
            ASSERT_GE(side * Dot(corner, p), bound - 1e-12) << subdivision;
            // Weights adding up to zero give the same corner instead of a division by zero.
            ASSERT_EQ(Gap(SpherePoint(p, zeroSum.Get(), subdivision, 1), corner), 0.0);
        }
    }
}

TEST(SphereLattice, PointsWithoutADirectionGiveZero) {
    const Curves bent = Curves::Bent();
    const auto squared = [](const Vec3d& p) { return p.x * p.x + p.y * p.y + p.z * p.z; };
    for (Vec3d direction : {Vec3d(1, 0, 0), Vec3d(0, 0, -1), Vec3d(0.3, -0.4, 0.5), Vec3d(-2, 7, 0.1)}) {
        direction.Normalize();
        // The longest point of this direction whose squared length is below 1e-10.
        double length = 1e-5 * (1 + 1e-12);
        while (squared(direction * length) >= 1e-10)
            length = std::nextafter(length, 0.0);
        const Vec3d below = direction * length;
        const Vec3d above = direction * std::nextafter(length, 1.0);

        EXPECT_EQ(SphereValue(below, bent.Get(), 10), 0.0);
        EXPECT_EQ(Gap(SpherePoint(below, bent.Get(), 10, 1), Vec3d()), 0.0);
        EXPECT_NEAR(SphereValue(above, bent.Get(), 10), SphereValue(direction, bent.Get(), 10), 1e-12);
        EXPECT_LE(Gap(SpherePoint(above, bent.Get(), 10, 1), SpherePoint(direction, bent.Get(), 10, 1)),
                  1e-12);
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(SphereValue(Vec3d(nan, nan, nan), bent.Get(), 10), 0.0);
    EXPECT_EQ(Gap(SpherePoint(Vec3d(nan, nan, nan), bent.Get(), 10, 1), Vec3d()), 0.0);
}

TEST(SphereLattice, ZeroSubdivisionCollapsesTheLattice) {
    const Curves bent = Curves::Bent();
    const Curves nearestOnly = Curves::Constant(1, 0, 0);
    for (const Vec3d& p : RandomDirections(500)) {
        ASSERT_NEAR(SphereValue(p, bent.Get(), 0), bent.Sum(0, 1, 1), 1e-12);
        // The nearest corner is the origin: it stays (0, 0, 0) instead of becoming not-a-number.
        const Vec3d point = SpherePoint(p, bent.Get(), 0, 1);
        ASSERT_TRUE(std::isfinite(point.x) && std::isfinite(point.y) && std::isfinite(point.z));
        ASSERT_EQ(Gap(SpherePoint(p, nearestOnly.Get(), 0, 0), Vec3d()), 0.0);
    }
}

}  // namespace
