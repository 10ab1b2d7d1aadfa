// The hexagonal lattice kernel, on its own: the coordinate conversions against the icosahedron's
// figures, the plane and sphere triangles against a search over every lattice point near the point, the
// sphere lattice's symmetries, the tie between face records, and the guards.

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

const double pi = std::numbers::pi;
const double inverseSqrt3 = 1 / std::sqrt(3.0);
const double sqrt3Half = std::sqrt(3.0) * 0.5;

/// The icosahedron of edge 1 with its apex on the z axis, written from its figures: ring radius r,
/// rings at heights +-r/2, the apex at R.
const double ringRadius = 0.8506508083520399;
const double apexHeight = 0.9510565162951536;

Vec3d Upper(double degrees) {
    const double a = degrees * pi / 180;
    return {ringRadius * std::cos(a), ringRadius * std::sin(a), ringRadius / 2};
}
Vec3d Lower(double degrees) {
    const double a = degrees * pi / 180;
    return {ringRadius * std::cos(a), ringRadius * std::sin(a), -ringRadius / 2};
}
const Vec3d apex(0, 0, apexHeight);

/// All twenty faces: five around the apex, ten around the middle, five around the foot.
std::vector<std::array<Vec3d, 3>> Faces() {
    std::vector<std::array<Vec3d, 3>> faces;
    const Vec3d foot(0, 0, -apexHeight);
    for (int k = 0; k < 5; ++k) {
        const double u = 36 + 72 * k, l = 72 * k;
        faces.push_back({apex, Upper(u), Upper(u + 72)});
        faces.push_back({Upper(u), Upper(u + 72), Lower(l + 72)});
        faces.push_back({Lower(l), Lower(l + 72), Upper(u)});
        faces.push_back({foot, Lower(l), Lower(l + 72)});
    }
    return faces;
}

Vec3d Unit(Vec3d v) {
    v.Normalize();
    return v;
}

Vec3d Cross(const Vec3d& a, const Vec3d& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
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
        const Vec3d p(normal(random), normal(random), normal(random));
        if (p.Length() < 1e-3) continue;
        directions.push_back(Unit(p));
    }
    return directions;
}

/// The rotation by `angle` about the unit axis, applied to p (Rodrigues' formula).
Vec3d Rotate(const Vec3d& p, const Vec3d& axis, double angle) {
    return p * std::cos(angle) + Cross(axis, p) * std::sin(angle) +
           axis * (Dot(axis, p) * (1 - std::cos(angle)));
}

/// Candidates with their distances, nearest first.
template <class Point>
struct Nearest {
    std::vector<std::pair<double, Point>> found;
    void Add(double distance, const Point& point) { found.push_back({distance, point}); }
    void Sort() {
        std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    }
};

/// The three lattice points of the plane nearest to p, found among all within a few steps of it: a
/// triangular lattice's nearest three are the corners of the triangle around the point.
Nearest<Vec2d> NearestPlanePoints(const Vec2d& p) {
    Nearest<Vec2d> nearest;
    const double j0 = std::round(p.y / sqrt3Half);
    const double i0 = std::round(p.x - j0 / 2);
    for (double j = j0 - 3; j <= j0 + 3; ++j) {
        for (double i = i0 - 3; i <= i0 + 3; ++i) {
            const Vec2d q(i + j / 2, j * sqrt3Half);
            nearest.Add(std::hypot(q.x - p.x, q.y - p.y), q);
        }
    }
    nearest.Sort();
    return nearest;
}

/// The three lattice points nearest to the direction p on the icosahedron scaled by n: p projected from
/// the origin onto the face plane it meets first, and every lattice point of that face, by distance
/// within the plane.
Nearest<Vec3d> NearestSpherePoints(const Vec3d& p, int n) {
    const std::vector<std::array<Vec3d, 3>> faces = Faces();
    const std::array<Vec3d, 3>* chosen = nullptr;
    double nearestPlane = 0;  // the reciprocal of how far the ray travels to the face's plane
    for (const auto& face : faces) {
        const Vec3d normal = Unit(Cross(face[1] - face[0], face[2] - face[0]));
        const double side = Dot(normal, face[0]) > 0 ? 1.0 : -1.0;  // outward
        const double reach = side * Dot(normal, p) / std::abs(Dot(normal, face[0]));
        if (reach > nearestPlane) {
            nearestPlane = reach;
            chosen = &face;
        }
    }
    Nearest<Vec3d> nearest;
    const auto& [v0, v1, v2] = *chosen;
    const Vec3d projected = p * (n / nearestPlane);
    for (int i = 0; i <= n; ++i) {
        for (int j = 0; i + j <= n; ++j) {
            const Vec3d q = v0 * n + (v1 - v0) * i + (v2 - v0) * j;
            nearest.Add((q - projected).Length(), q);
        }
    }
    nearest.Sort();
    return nearest;
}

// ---- the conversions ------------------------------------------------------------------------------

TEST(LatticeConversions, PlaneBasisToTheLastBit) {
    // The corner order at the origin rests on these bits.
    const struct {
        Vec2d plane;
        LatticeCoords lattice;
    } cases[] = {
        {{1, 0}, {1, 0}},
        {{0, 1}, {-0.5773502691896258, 1.1547005383792517}},
    };
    for (const auto& c : cases) {
        const LatticeCoords lattice = PlaneToLattice(c.plane);
        EXPECT_EQ(lattice.i, c.lattice.i);
        EXPECT_EQ(lattice.j, c.lattice.j);
    }
    EXPECT_EQ(Gap(LatticeToPlane({1, 0}), Vec2d(1, 0)), 0.0);
    EXPECT_EQ(Gap(LatticeToPlane({0, 1}), Vec2d(0.5, 0.8660254037844386)), 0.0);
    EXPECT_EQ(Gap(LatticeToPlane({3, -2}), Vec2d(2, -2 * 0.8660254037844386)), 0.0);
}

TEST(LatticeConversions, FaceRecordZeroMatchesItsFigures) {
    // The columns of the face-to-space matrix and of its inverse, from the rows the figures give.
    const struct {
        FaceCoords face;
        Vec3d space;
    } toSpace[] = {
        {{1, 0, 0}, {-0.1624598481, 0.5, 0.8506508084}},
        {{0, 1, 0}, {-0.1624598481, -0.5, 0.8506508084}},
        {{0, 0, 1}, {0.8506508084, 0, -0.4253254042}},
    };
    for (const auto& c : toSpace)
        EXPECT_LE(Gap(FaceToSpace(0, c.face), c.space), 1e-10);
    const struct {
        Vec3d space;
        Vec3d face;  // i, j and k
    } toFace[] = {
        {{1, 0, 0}, {0.3249196962, 0.3249196962, 1.2996787849}},
        {{0, 1, 0}, {1, -1, 0}},
        {{0, 0, 1}, {0.6498393925, 0.6498393925, 0.2482165607}},
    };
    for (const auto& c : toFace) {
        const FaceCoords face = SpaceToFace(0, c.space);
        EXPECT_LE(Gap(Vec3d(face.i, face.j, face.k), c.face), 1e-10);
    }
    EXPECT_LE(Gap(FaceNormal(0), Vec3d(1.2996787849, 0, 0.2482165607)), 1e-10);
}

TEST(LatticeConversions, EveryRecordIsAFaceOfTheIcosahedron) {
    const std::vector<std::array<Vec3d, 3>> faces = Faces();
    for (int h = 0; h < faceCount; ++h) {
        SCOPED_TRACE(h);
        const Vec3d v0 = FaceToSpace(h, {0, 0, 1}), v1 = FaceToSpace(h, {1, 0, 1}),
                    v2 = FaceToSpace(h, {0, 1, 1});
        // The three corners are vertices of one of the twenty faces.
        const bool isFace = std::any_of(faces.begin(), faces.end(), [&](const auto& face) {
            return std::all_of(face.begin(), face.end(), [&](const Vec3d& vertex) {
                return Gap(vertex, v0) < 1e-14 || Gap(vertex, v1) < 1e-14 || Gap(vertex, v2) < 1e-14;
            });
        });
        EXPECT_TRUE(isFace);
        // The normal gives k = 1 on the face's plane and has the length of 1 / inradius.
        for (const Vec3d& vertex : {v0, v1, v2, (v0 + v1 + v2) * (1.0 / 3)})
            EXPECT_NEAR(Dot(FaceNormal(h), vertex), 1.0, 1e-15);
        EXPECT_NEAR(FaceNormal(h).Length(), 1.323169076499215, 1e-14);
        // Space to face undoes face to space.
        const FaceCoords c{0.3, -1.7, 2.5};
        const FaceCoords back = SpaceToFace(h, FaceToSpace(h, c));
        EXPECT_LE(Gap(Vec3d(back.i, back.j, back.k), Vec3d(c.i, c.j, c.k)), 1e-14);
    }
}

// ---- the plane ----------------------------------------------------------------------------------

TEST(PlaneLattice, TriangleSplitsItsCellAlongTheShortDiagonal) {
    const struct {
        LatticeCoords point, first, cell;  // the first corner, and (i, j)
    } cases[] = {
        {{0.0, 0.0}, {0, 0}, {0, 0}},
        {{0.25, 0.75}, {0, 0}, {0, 0}},  // on the diagonal: the lower triangle
        {{0.25, std::nextafter(0.75, 1.0)}, {1, 1}, {0, 0}},
        {{0.9, 0.9}, {1, 1}, {0, 0}},
        {{-0.75, -0.25}, {-1, -1}, {-1, -1}},  // on the diagonal of a negative cell
        {{2.5, 3.6}, {3, 4}, {2, 3}},
    };
    for (const auto& c : cases) {
        const std::array<LatticeCoords, 3> triangle = LatticeTriangle(c.point);
        const LatticeCoords expected[] = {c.first, {c.cell.i, c.cell.j + 1}, {c.cell.i + 1, c.cell.j}};
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(triangle[k].i, expected[k].i) << c.point.i << ", " << c.point.j;
            EXPECT_EQ(triangle[k].j, expected[k].j) << c.point.i << ", " << c.point.j;
        }
    }
}

TEST(PlaneLattice, CornersAtKnownPointsComeInTheirOrder) {
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
        {"near (1, 0)",
         {0.9, 0.1},
         {{{1, 0}, {0.5, sqrt3Half}, {0, 0}}},
         {0.1414213562373095, 0.864172968359409, 0.9055385138137417}},
        {"upper triangle",
         {1.0, 0.8},
         {{{1.5, sqrt3Half}, {0.5, sqrt3Half}, {1, 0}}},
         {0.5043405138841199, 0.5043405138841199, 0.8}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const SortedTriangle<Vec2d> sorted = PlaneTriangle(c.point);
        const std::array<double, 3> distances = PlaneDistances(c.point);
        for (int k = 0; k < 3; ++k) {
            EXPECT_LE(Gap(sorted.corner[k], c.corner[k]), 1e-15) << k;
            EXPECT_NEAR(sorted.distance[k], c.distance[k], 1e-15) << k;
            EXPECT_EQ(distances[k], sorted.distance[k]) << k;
        }
    }
}

TEST(PlaneLattice, CornersAreTheThreeNearestLatticePoints) {
    std::mt19937_64 random(7);
    for (double scale : {1.0, 50.0, 1e6}) {
        std::uniform_real_distribution<double> coordinate(-scale, scale);
        const double slack = 1e-15 * scale * 4;
        for (int n = 0; n < 5000; ++n) {
            const Vec2d p(coordinate(random), coordinate(random));
            SCOPED_TRACE(testing::Message() << p.x << ", " << p.y);
            const SortedTriangle<Vec2d> sorted = PlaneTriangle(p);
            const std::array<double, 3> distances = PlaneDistances(p);
            const Nearest<Vec2d> nearest = NearestPlanePoints(p);
            const std::array<double, 3>& d = sorted.distance;
            ASSERT_TRUE(d[0] <= d[1] && d[1] <= d[2]);
            for (int k = 0; k < 3; ++k) {
                ASSERT_LE(Gap(sorted.corner[k], nearest.found[k].second), slack) << k;
                ASSERT_NEAR(d[k], nearest.found[k].first, slack) << k;
                ASSERT_EQ(distances[k], d[k]) << k;
            }
            // Within the ranges the node's curves take: [0, 1/sqrt(3)], [1/2, 1], [1/sqrt(3), 1].
            ASSERT_LE(d[0], inverseSqrt3 + slack);
            ASSERT_TRUE(0.5 - slack <= d[1] && d[1] <= 1 + slack);
            ASSERT_TRUE(inverseSqrt3 - slack <= d[2] && d[2] <= 1 + slack);
        }
    }
}

// ---- the sphere ---------------------------------------------------------------------------------

TEST(SphereLattice, CornersAreTheNearestLatticePointsOfTheFaceTheRayMeets) {
    for (int subdivision : {1, 3, 10}) {
        for (const Vec3d& p : RandomDirections(1500)) {
            SCOPED_TRACE(testing::Message() << subdivision << " at " << p.x << ", " << p.y << ", " << p.z);
            const std::optional<SortedTriangle<Vec3d>> triangle = SphereTriangle(p, subdivision);
            const std::optional<std::array<double, 3>> distances = SphereDistances(p, subdivision);
            ASSERT_TRUE(triangle && distances);
            const Nearest<Vec3d> nearest = NearestSpherePoints(p, subdivision);
            for (int k = 0; k < 3; ++k) {
                ASSERT_LE(Gap(triangle->corner[k], Unit(nearest.found[k].second)), 1e-12) << k;
                ASSERT_NEAR(triangle->distance[k], nearest.found[k].first, 1e-12) << k;
                ASSERT_NEAR((*distances)[k], nearest.found[k].first, 1e-12) << k;
            }
        }
    }
}

TEST(SphereLattice, OnlyTheLineThroughTheOriginCounts) {
    for (int subdivision : {1, 7, 10}) {
        for (const Vec3d& p : RandomDirections(2000)) {
            const SortedTriangle<Vec3d> triangle = *SphereTriangle(p, subdivision);
            const std::array<double, 3> distances = *SphereDistances(p, subdivision);
            // -p reaches the same distances, and mirrored corners.
            const SortedTriangle<Vec3d> opposite = *SphereTriangle(p * -1.0, subdivision);
            const std::array<double, 3> oppositeDistances = *SphereDistances(p * -1.0, subdivision);
            for (int k = 0; k < 3; ++k) {
                ASSERT_LE(Gap(opposite.corner[k], triangle.corner[k] * -1.0), 1e-12);
                ASSERT_NEAR(oppositeDistances[k], distances[k], 1e-12);
            }
            for (double length : {1e-4, 1000.0, 1e300}) {
                const SortedTriangle<Vec3d> scaled = *SphereTriangle(p * length, subdivision);
                const std::array<double, 3> scaledDistances = *SphereDistances(p * length, subdivision);
                for (int k = 0; k < 3; ++k) {
                    ASSERT_LE(Gap(scaled.corner[k], triangle.corner[k]), 1e-12);
                    ASSERT_NEAR(scaledDistances[k], distances[k], 1e-12);
                }
            }
        }
    }
}

// Rotations that map the icosahedron onto itself map the sphere lattice onto itself: the distances stay,
// the corners turn along. Rotated directions land on other faces, folds and opposite faces.
TEST(SphereLattice, IcosahedronRotationsMapTheLatticeOntoItself) {
    const Vec3d faceCentre = Unit(apex + Upper(-36) + Upper(36));
    const Vec3d edgeMiddle = Unit(Upper(-36) + Upper(36));
    const struct {
        Vec3d axis;
        double angle;
    } rotations[] = {
        {{0, 0, 1}, 2 * pi / 5}, {{0, 0, 1}, 6 * pi / 5}, {faceCentre, 2 * pi / 3}, {edgeMiddle, pi}};
    for (const auto& r : rotations) {
        for (const Vec3d& p : RandomDirections(2000)) {
            const Vec3d q = Rotate(p, r.axis, r.angle);
            const SortedTriangle<Vec3d> original = *SphereTriangle(p, 10);
            const SortedTriangle<Vec3d> turned = *SphereTriangle(q, 10);
            for (int k = 0; k < 3; ++k) {
                ASSERT_NEAR(turned.distance[k], original.distance[k], 1e-11) << r.angle;
                ASSERT_LE(Gap(turned.corner[k], Rotate(original.corner[k], r.axis, r.angle)), 1e-11)
                    << r.angle;
            }
        }
    }
}

/// Whether the direction c, carried from the origin onto face record h's plane k = n, lands on one of
/// that plane's lattice points.
bool OnLatticeOf(int h, const Vec3d& c, int n) {
    const double k = Dot(FaceNormal(h), c);
    if (!(k > 0)) return false;
    const FaceCoords f = SpaceToFace(h, c * (n / k));
    return std::abs(f.i - std::round(f.i)) < 1e-9 && std::abs(f.j - std::round(f.j)) < 1e-9;
}

// Where the ray meets two face planes at once, to the bit, the first record wins: the corners are
// lattice points of its plane. Ties come on the edges between records (here the edge from U(36) to the
// apex, shared by records 5 and 6) and at vertices (U(36), a corner of records 0, 2, 5 and 6).
TEST(SphereLattice, OfTiedFaceRecordsTheFirstWins) {
    std::vector<Vec3d> candidates = {Upper(36)};
    for (int step = 1; step < 64; ++step)
        candidates.push_back(Upper(36) * (1 - step / 64.0) + apex * (step / 64.0));
    int ties = 0;
    for (const Vec3d& p : candidates) {
        double greatest = 0;
        for (int h = 0; h < faceCount; ++h)
            greatest = std::max(greatest, std::abs(Dot(FaceNormal(h), p)));
        std::vector<int> tied;
        for (int h = 0; h < faceCount; ++h) {
            if (std::abs(Dot(FaceNormal(h), p)) == greatest) tied.push_back(h);
        }
        if (tied.size() < 2) continue;
        ++ties;
        SCOPED_TRACE(testing::Message() << "at " << p.x << ", " << p.y << ", " << p.z << ", records "
                                        << tied.front() << " to " << tied.back());
        for (int subdivision : {1, 2}) {
            const SortedTriangle<Vec3d> triangle = *SphereTriangle(p, subdivision);
            const auto allOn = [&](int h) {
                return std::all_of(triangle.corner.begin(), triangle.corner.end(),
                                   [&](const Vec3d& corner) { return OnLatticeOf(h, corner, subdivision); });
            };
            EXPECT_TRUE(allOn(tied.front())) << subdivision;
            EXPECT_FALSE(allOn(tied.back())) << subdivision;
        }
    }
    EXPECT_GT(ties, 1) << "too few points tie two records";
}

// The nearest corner lies within 1/sqrt(3) of P on a face plane at least |N| * inradius from the origin,
// so it is seen from the origin within atan((1/sqrt(3)) / (|N| * inradius)) of p, or of -p for a
// negative N.
TEST(SphereLattice, NearestCornerLiesTowardsPOrAwayForNegativeSubdivision) {
    constexpr double inradius = 0.7557613140761708;
    for (int subdivision : {1, 3, 10, 100, -1, -10}) {
        const double side = subdivision > 0 ? 1.0 : -1.0;
        const double bound = std::cos(std::atan(inverseSqrt3 / (std::abs(subdivision) * inradius)));
        for (const Vec3d& p : RandomDirections(2000)) {
            const SortedTriangle<Vec3d> triangle = *SphereTriangle(p, subdivision);
            for (const Vec3d& corner : triangle.corner)
                ASSERT_NEAR(corner.Length(), 1.0, 1e-15);
            ASSERT_GE(side * Dot(triangle.corner[0], p), bound - 1e-12) << subdivision;
        }
    }
}

TEST(SphereLattice, PointsWithoutADirectionGiveNothing) {
    const auto squared = [](const Vec3d& p) { return p.x * p.x + p.y * p.y + p.z * p.z; };
    for (const Vec3d& direction :
         {Vec3d(1, 0, 0), Vec3d(0, 0, -1), Unit({0.3, -0.4, 0.5}), Unit({-2, 7, 0.1})}) {
        // The longest point of this direction whose squared length is below 1e-10.
        double length = 1e-5 * (1 + 1e-12);
        while (squared(direction * length) >= 1e-10)
            length = std::nextafter(length, 0.0);
        const Vec3d below = direction * length;
        const Vec3d above = direction * std::nextafter(length, 1.0);
        EXPECT_FALSE(SphereTriangle(below, 10));
        EXPECT_FALSE(SphereDistances(below, 10));
        ASSERT_TRUE(SphereTriangle(above, 10));
        ASSERT_TRUE(SphereDistances(above, 10));
        EXPECT_LE(Gap(SphereTriangle(above, 10)->corner[0], SphereTriangle(direction, 10)->corner[0]), 1e-12);
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(SphereTriangle(Vec3d(nan, nan, nan), 10));
    EXPECT_FALSE(SphereDistances(Vec3d(nan, nan, nan), 10));
    EXPECT_FALSE(SphereTriangle(Vec3d(nan, 1, 1), 10));
}

TEST(SphereLattice, ZeroSubdivisionCollapsesTheLattice) {
    for (const Vec3d& p : RandomDirections(500)) {
        const std::array<double, 3> distances = *SphereDistances(p, 0);
        const SortedTriangle<Vec3d> triangle = *SphereTriangle(p, 0);
        for (int k = 0; k < 3; ++k) {
            ASSERT_NEAR(distances[k], k == 0 ? 0.0 : 1.0, 1e-15);
            ASSERT_NEAR(triangle.distance[k], k == 0 ? 0.0 : 1.0, 1e-15);
        }
        // The nearest corner is the origin: it stays (0, 0, 0) instead of becoming not-a-number.
        ASSERT_EQ(Gap(triangle.corner[0], Vec3d()), 0.0);
        ASSERT_NEAR(triangle.corner[1].Length(), 1.0, 1e-15);
        ASSERT_NEAR(triangle.corner[2].Length(), 1.0, 1e-15);
    }
}

}  // namespace
