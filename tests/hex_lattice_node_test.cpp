// The hexagonal lattice node through the loaded module: its outputs against values worked out by hand
// from the lattice's geometry, the settings it caches in Update and hands to a clone, and the weighted
// average's guard against a weight sum at zero. What it builds is checked with every node's, in
// module_test.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "host/curve_holder.h"
#include "host/param.h"
#include "quib/module_loader.h"
#include "tests/allocation_counter.h"
#include "tests/loaded_module.h"
#include "tests/node_values.h"

namespace {

using vantrel::test::TheModule;

using vantrel::test::Components;
using vantrel::test::Evaluate;
using vantrel::test::Garbage;

const char* const subdivisionName = "Subdivision";
const char* const rescaleName = "Rescale result?";
const char* const modeName = "(2=plane, 3=sphere)(how to make list box]";

const double sqrt3 = std::sqrt(3.0);
const double pi = std::numbers::pi;

// The icosahedron of edge 1 by its figures: ring radius r, upper ring at height r/2, apex at R.
const double ringRadius = 0.8506508083520399;
const double apexHeight = 0.9510565162951536;

Vec3d Upper(double degrees) {
    const double a = degrees * pi / 180;
    return {ringRadius * std::cos(a), ringRadius * std::sin(a), ringRadius / 2};
}
const Vec3d apex(0, 0, apexHeight);

Vec3d Unit(Vec3d v) {
    v.Normalize();
    return v;
}

/// The centre of the face of the apex, U(36) and U(108), as a direction.
const Vec3d faceCentre = Unit(apex + Upper(36) + Upper(108));
/// A point on that face, nearest the apex, then U(36), then U(108).
const Vec3d nearApex = apex * 0.8 + Upper(36) * 0.15 + Upper(108) * 0.05;

/// A lattice node made by the module's descriptor, its "Position" the sample position.
std::unique_ptr<Function> MakeLattice() {
    const quib::NodeType* type = TheModule()->Find("Hexagonal lattice 3D(1)");
    EXPECT_NE(type, nullptr);
    std::unique_ptr<Function> node = type->Create();
    node->FindParam("Position")->LinkToPosition();
    return node;
}

void Set(Function& node, const char* name, double value) {
    Param* param = node.FindParam(name);
    ASSERT_NE(param, nullptr) << name;
    param->SetConstant({value, 0, 0, 0});
}

void UpdateWith(Function& node, int subdivision, int rescale, int mode) {
    Set(node, subdivisionName, subdivision);
    Set(node, rescaleName, rescale);
    Set(node, modeName, mode);
    FunContext context;
    node.Update(0, &context);
}

/// Curves straight through the origin with slopes 1, 2 and 4: the weight sum is d0 + 2 d1 + 4 d2.
void WeighDistances(Function& node) {
    const double slopes[] = {1, 2, 4};
    for (int c = 0; c < 3; ++c)
        node.Curves()[c]->SetPoints(0, {{0, 0}, {1, slopes[c]}});
}

/// Each curve constant at its weight.
void WeighConstant(Function& node, double w1, double w2, double w3) {
    const double weights[] = {w1, w2, w3};
    for (int c = 0; c < 3; ++c)
        node.Curves()[c]->SetPoints(0, {{0, weights[c]}, {1, weights[c]}});
}

double Gap(const Vec3d& a, const Vec3d& b) {
    return std::max({std::abs(a.x - b.x), std::abs(a.y - b.y), std::abs(a.z - b.z)});
}

// ---- the weight sum, by hand ------------------------------------------------------------------------

// With weights d0 + 2 d1 + 4 d2: a lattice point has distances 0, 1, 1 (6); the middle of an edge 1/2,
// 1/2 and sqrt(3)/2 (1.5 + 2 sqrt(3)); a triangle's centre 1/sqrt(3) three times (7 / sqrt(3)).
TEST(HexLatticeNode, WeightSumOfKnownPoints) {
    const double latticePoint = 6, edgeMiddle = 1.5 + 2 * sqrt3, centre = 7 / sqrt3;
    const struct {
        const char* what;
        int mode, subdivision;
        Vec3d p;
        double expected;
    } cases[] = {
        {"plane origin", 2, 10, {0, 0, 0}, latticePoint},
        {"plane lattice point, any height", 2, 10, {2.5, 1.5 * sqrt3, -40}, latticePoint},
        {"plane edge middle", 2, 10, {0.5, 0, 3}, edgeMiddle},
        {"plane centre", 2, 1, {0.5, sqrt3 / 6, 0}, centre},
        {"plane centre of an upper triangle", 2, 1, {0, -2 * sqrt3 / 3, 0}, centre},
        // The face centre is a lattice point when 3 divides N, else the centre of a small triangle.
        {"face centre, N = 1", 3, 1, faceCentre, centre},
        {"face centre, N = 2", 3, 2, faceCentre * 5, centre},
        {"face centre, N = 3", 3, 3, faceCentre, latticePoint},
        {"face centre, N = 6", 3, 6, faceCentre * 0.01, latticePoint},
        {"face centre, N = 10", 3, 10, faceCentre, centre},
        {"face centre, N = -3", 3, -3, faceCentre, latticePoint},
        {"opposite face centre, N = 3", 3, 3, faceCentre * -1, latticePoint},
        {"apex, N = 7", 3, 7, {0, 0, 2}, latticePoint},
        {"ring vertex, N = 4", 3, 4, Upper(-108) * 3, latticePoint},
        {"edge middle, N = 1", 3, 1, apex + Upper(36), edgeMiddle},
        {"N = 0 collapses every point onto one", 3, 0, {0.3, -0.2, 0.9}, latticePoint},
        {"origin", 3, 10, {0, 0, 0}, 0},
        {"no direction", 3, 10, {3e-6, 4e-6, 5e-6}, 0},
    };
    const std::unique_ptr<Function> node = MakeLattice();
    WeighDistances(*node);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateWith(*node, c.subdivision, 1, c.mode);
        EXPECT_NEAR(Evaluate<double>(*node, c.p), c.expected, 1e-12);
    }
}

TEST(HexLatticeNode, IntTruncatesTheWeightSumTowardZero) {
    const struct {
        double weight;  // of each corner
        int expected;
    } cases[] = {{0.9, 2}, {-0.9, -2}, {0.3, 0}};
    const std::unique_ptr<Function> node = MakeLattice();
    for (const auto& c : cases) {
        WeighConstant(*node, c.weight, c.weight, c.weight);
        for (int mode : {2, 3}) {
            UpdateWith(*node, 10, 1, mode);
            EXPECT_EQ(Evaluate<int>(*node, Vec3d(0.4, 1.1, -0.2)), c.expected)
                << c.weight << ", mode " << mode;
        }
    }
}

// ---- the blended corners, by hand ---------------------------------------------------------------------

// Weights 1, 1/2 and 1/4. On the plane, (0.1, 0.05) lies nearest (0, 0), then (1, 0), then
// (1/2, sqrt(3)/2); on the sphere, `nearApex` nearest the apex, then U(36), then U(108). The corners
// blend to their weighted sum, or to it over 1.75 with rescale 1; only 1 rescales.
TEST(HexLatticeNode, CornersBlendByTheirWeights) {
    const Vec3d planeSum(0.5 + 0.125, 0.25 * sqrt3 / 2, 0);
    const Vec3d sphereSum = Unit(apex) + Unit(Upper(36)) * 0.5 + Unit(Upper(108)) * 0.25;
    const struct {
        int mode, rescale;
        Vec3d p, expected;
    } cases[] = {
        {2, 1, {0.1, 0.05, 9}, planeSum * (1 / 1.75)},
        {2, 0, {0.1, 0.05, 9}, planeSum},
        {2, 2, {0.1, 0.05, 9}, planeSum},
        {2, -1, {0.1, 0.05, 9}, planeSum},
        {3, 1, nearApex, sphereSum * (1 / 1.75)},
        {3, 0, nearApex * 20, sphereSum},
        {3, 2, nearApex, sphereSum},
        {3, -1, nearApex, sphereSum},
    };
    const std::unique_ptr<Function> node = MakeLattice();
    WeighConstant(*node, 1, 0.5, 0.25);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << ", rescale " << c.rescale);
        UpdateWith(*node, 1, c.rescale, c.mode);
        const Vec3d point = Evaluate<Vec3d>(*node, c.p);
        EXPECT_LE(Gap(point, c.expected), 1e-12);
        if (c.mode == 2) {
            EXPECT_EQ(point.z, 0.0);
        }
        // The text, colour and four-component outputs carry the same vector.
        EXPECT_EQ(Components(Evaluate<Color>(*node, c.p)), Components(point));
        EXPECT_EQ(Components(Evaluate<Vec4d>(*node, c.p)), Components(Vec4d(point.x, point.y, point.z, 0)));
        EXPECT_EQ(Components(Evaluate<ColorA>(*node, c.p)), Components(ColorA(point.x, point.y, point.z, 1)));
        // The Vec2d output is the plane's blend in both modes.
        const Vec2d planePoint = Evaluate<Vec2d>(*node, {0.1, 0.05, -3});
        const Vec3d planeExpected = c.rescale == 1 ? planeSum * (1 / 1.75) : planeSum;
        EXPECT_NEAR(planePoint.x, planeExpected.x, 1e-12);
        EXPECT_NEAR(planePoint.y, planeExpected.y, 1e-12);
    }
}

// A weighted average whose weights add up to within 1e-15 of zero is the nearest corner itself; beyond,
// it divides. On the plane (0.9, 0.1) lies nearest (1, 0); on the sphere `nearApex` nearest the apex.
TEST(HexLatticeNode, WeightsSummingToZeroGiveTheNearestCorner) {
    const struct {
        double w3;  // beside 0.5 and -0.5
        bool nearest;
    } sums[] = {{0, true}, {5e-16, true}, {-5e-16, true}, {1e-13, false}, {-1e-13, false}};
    const struct {
        int mode;
        Vec3d p, corner;
    } places[] = {{2, {0.9, 0.1, 0}, {1, 0, 0}}, {3, nearApex, {0, 0, 1}}};
    const std::unique_ptr<Function> node = MakeLattice();
    for (const auto& sum : sums) {
        WeighConstant(*node, 0.5, -0.5, sum.w3);
        for (const auto& place : places) {
            SCOPED_TRACE(testing::Message() << "w3 " << sum.w3 << ", mode " << place.mode);
            UpdateWith(*node, 1, 1, place.mode);
            const Vec3d point = Evaluate<Vec3d>(*node, place.p);
            if (sum.nearest) {
                EXPECT_LE(Gap(point, place.corner), 1e-15);
            } else {
                EXPECT_GT(point.Length(), 1e10);  // (K0 - K1) / 2 over a sum of 1e-13
            }
            if (place.mode == 2) {
                const Vec2d planePoint = Evaluate<Vec2d>(*node, place.p);
                EXPECT_EQ(sum.nearest, planePoint.x == 1 && std::abs(planePoint.y) <= 1e-15) << planePoint.x;
            }
        }
    }
}

// ---- cached settings ----------------------------------------------------------------------------------

// A new node evaluates on the sphere with ten steps and rescaling; the parameters change what it does
// only at the next Update.
TEST(HexLatticeNode, SettingsTakeEffectOnlyAtUpdate) {
    const std::unique_ptr<Function> node = MakeLattice();
    WeighDistances(*node);
    const double centre = 7 / sqrt3, latticePoint = 6, edgeMiddle = 1.5 + 2 * sqrt3;
    const Vec3d planeEdge(0.5, 0, 0.2);  // not a direction the sphere lattice has a lattice point at
    FunContext context;
    EXPECT_NEAR(Evaluate<double>(*node, faceCentre), centre, 1e-12);  // N = 10

    Set(*node, subdivisionName, 3);
    EXPECT_NEAR(Evaluate<double>(*node, faceCentre), centre, 1e-12);
    node->Update(0, &context);
    EXPECT_NEAR(Evaluate<double>(*node, faceCentre), latticePoint, 1e-12);

    Set(*node, modeName, 2);
    EXPECT_NE(Evaluate<double>(*node, planeEdge), edgeMiddle);
    node->Update(0, &context);
    EXPECT_NEAR(Evaluate<double>(*node, planeEdge), edgeMiddle, 1e-12);

    // Rescale: the blended corner of (0.1, 0.05) with weights d0 + 2 d1 + 4 d2 is not the weighted
    // average until the Update.
    WeighConstant(*node, 1, 0.5, 0.25);
    const Vec3d average = Vec3d(0.625, 0.25 * sqrt3 / 2, 0) * (1 / 1.75);
    Set(*node, rescaleName, 0);
    EXPECT_LE(Gap(Evaluate<Vec3d>(*node, {0.1, 0.05, 0}), average), 1e-12);
    node->Update(0, &context);
    EXPECT_LE(Gap(Evaluate<Vec3d>(*node, {0.1, 0.05, 0}), average * 1.75), 1e-12);
}

// A mode outside 2 and 3 reaches the cache through a constant set past the range, or through a link.
TEST(HexLatticeNode, OtherModesWriteNothingAndConvertZeros) {
    const std::unique_ptr<Function> linked = MakeLattice();
    linked->FindParam(modeName)->LinkToPosition();
    const std::unique_ptr<Function> constant = MakeLattice();
    Set(*constant, modeName, 5);
    for (Function* node : {linked.get(), constant.get()}) {
        WeighConstant(*node, 1, 0, 0);
        FunContext context{Vec3d(5.5, 0, 0)};
        node->Update(0, &context);
        const Vec3d p(0.9, 0.1, -0.5);
        EXPECT_EQ(Evaluate<double>(*node, p), Garbage<double>());
        EXPECT_EQ(Components(Evaluate<Vec3d>(*node, p)), Components(Garbage<Vec3d>()));
        EXPECT_EQ(Evaluate<int>(*node, p), 0);
        EXPECT_EQ(Components(Evaluate<Color>(*node, p)), Components(Color()));
        EXPECT_EQ(Components(Evaluate<ColorA>(*node, p)), Components(ColorA(0, 0, 0, 1)));
        EXPECT_EQ(Components(Evaluate<Vec4d>(*node, p)), Components(Vec4d()));
        EXPECT_EQ(Components(Evaluate<Quaternion>(*node, p)), Components(Quaternion()));
        EXPECT_EQ(Evaluate<std::string>(*node, p), "(0, 0, 0)");
        // The Vec2d output is the plane's in every mode: the nearest lattice point (1, 0).
        EXPECT_EQ(Components(Evaluate<Vec2d>(*node, p)), Components(Vec2d(1, 0)));
    }
}

TEST(HexLatticeNode, EvaluationAllocatesNothing) {
    const std::unique_ptr<Function> node = MakeLattice();
    WeighDistances(*node);
    for (int mode : {2, 3}) {
        UpdateWith(*node, 10, 1, mode);
        FunContext context{Vec3d(0.3, -1.2, 0.8)};
        double value;
        Vec3d point;
        Vec2d planePoint;
        int whole;
        Color colour;
        const long before = vantrel::test::AllocationCount();
        node->Eval(&value, &context);
        node->Eval(&point, &context);
        node->Eval(&planePoint, &context);
        node->Eval(&whole, &context);
        node->Eval(&colour, &context);
        EXPECT_EQ(vantrel::test::AllocationCount() - before, 0) << "mode " << mode;
    }
}

// ---- clone ---------------------------------------------------------------------------------------

// Each cached setting in turn differs from a new node's (10, 1, 3) and from the parameters at the time
// of the clone: the clone evaluates with the cached settings until its own Update.
TEST(HexLatticeNode, CloneEvaluatesLikeItsOriginalBeforeItsOwnUpdate) {
    const double centre = 7 / sqrt3, latticePoint = 6, edgeMiddle = 1.5 + 2 * sqrt3;
    const Vec3d planeEdge(0.5, 0, 0.2);
    const struct {
        const char* what;
        int subdivision, rescale, mode;
        Vec3d p;
        double expected;  // the double output at p
    } cases[] = {
        {"subdivision", 3, 1, 3, faceCentre, latticePoint},
        {"mode", 10, 1, 2, planeEdge, edgeMiddle},
        {"rescale", 10, 0, 3, faceCentre, centre},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::unique_ptr<Function> original = MakeLattice();
        WeighDistances(*original);
        UpdateWith(*original, c.subdivision, c.rescale, c.mode);
        // The parameters move on after the Update: the clone takes the cached settings, not these.
        Set(*original, subdivisionName, 10);
        Set(*original, rescaleName, 1);
        Set(*original, modeName, 3);

        const std::unique_ptr<Plugged> copy(original->Clone(0, 0));
        auto* clone = dynamic_cast<Function*>(copy.get());
        ASSERT_NE(clone, nullptr);
        EXPECT_EQ(clone->ClassID(), original->ClassID());
        EXPECT_NEAR(Evaluate<double>(*clone, c.p), c.expected, 1e-12);
        for (const Vec3d& p : {c.p, faceCentre, planeEdge, nearApex, Vec3d(-1.7, 2.2, -0.4)}) {
            EXPECT_EQ(Evaluate<double>(*clone, p), Evaluate<double>(*original, p));
            EXPECT_EQ(Components(Evaluate<Vec3d>(*clone, p)), Components(Evaluate<Vec3d>(*original, p)));
        }
        // With rescale 0 the blend is the weighted sum d0 K0 + 2 d1 K1 + 4 d2 K2, longer than a unit
        // vector; the average of unit vectors is shorter.
        EXPECT_EQ(Evaluate<Vec3d>(*clone, nearApex).Length() > 1, c.rescale == 0);

        // Its own Update reads its own copies of the parameters: a new node's settings.
        FunContext context;
        clone->Update(0, &context);
        EXPECT_NEAR(Evaluate<double>(*clone, faceCentre), centre, 1e-12);
        EXPECT_LT(Evaluate<Vec3d>(*clone, nearApex).Length(), 1);
    }
}

}  // namespace
