// The hexagonal lattice node: what it builds, the settings it caches in Update, its outputs by mode,
// and its clone, made directly and through the loaded module.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "generators/hex_lattice.h"
#include "host/curve_holder.h"
#include "quib/module_loader.h"
#include "tests/allocation_counter.h"
#include "tests/node_values.h"


namespace {

using vantrel::test::Components;
using vantrel::test::Evaluate;

const char* const subdivisionName = "Subdivision";
const char* const rescaleName = "Rescale result?";
const char* const modeName = "(2=plane, 3=sphere)(how to make list box]";

void Set(Function& node, const char* name, double value) {
    Param* param = node.FindParam(name);
    ASSERT_NE(param, nullptr) << name;
    param->SetConstant({value, 0, 0, 0});
}

/// A node whose "Position" is the sample position, with curves that weigh each distance differently.
void Prepare(Function& node) {
    node.FindParam("Position")->LinkToPosition();
    const std::vector<CurveHolder::Point> points[] = {
        {{0, 0.3}, {0.3, 0.5}, {0.5773502691896258, 0.9}},
        {{0.5, 2}, {0.8, 2.5}, {1, 5}},
        {{0.5773502691896258, -1}, {0.8, 1}, {1, 7}},
    };
    for (int c = 0; c < 3; ++c)
        node.Curves()[c]->SetPoints(0, points[c]);
}

void UpdateWith(Function& node, int subdivision, int rescale, int mode) {
    Set(node, subdivisionName, subdivision);
    Set(node, rescaleName, rescale);
    Set(node, modeName, mode);
    FunContext context;
    node.Update(0, &context);
}

hexlattice::WeightCurves Weights(const Function& node) {
    return {node.Curves()[0], node.Curves()[1], node.Curves()[2]};
}

/// What the node's own outputs should be with these cached settings, from the geometry routines.
struct Expected {
    double value;
    Vec3d point;
    Vec2d planePoint;
};
Expected ExpectedOutputs(const Function& node, const Vec3d& p, int subdivision, int rescale, int mode) {
    const hexlattice::WeightCurves w = Weights(node);
    const Vec2d q = hexlattice::PlanePoint(p.x, p.y, w, rescale);
    if (mode == 2) return {hexlattice::PlaneValue(p.x, p.y, w), Vec3d(q.x, q.y, 0.0), q};
    return {hexlattice::SphereValue(p, w, subdivision), hexlattice::SpherePoint(p, w, subdivision, rescale),
            q};
}

void ExpectOutputs(Function& node, const Vec3d& p, const Expected& expected) {
    SCOPED_TRACE(testing::Message() << "at (" << p.x << ", " << p.y << ", " << p.z << ")");
    EXPECT_EQ(Evaluate<double>(node, p), expected.value);
    EXPECT_EQ(Components(Evaluate<Vec3d>(node, p)), Components(expected.point));
    EXPECT_EQ(Components(Evaluate<Vec2d>(node, p)), Components(expected.planePoint));
}

std::vector<Vec3d> SamplePositions() {
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> coordinate(-4.0, 4.0);
    std::vector<Vec3d> positions = {{0.3, 0.2, 0.9}, {-1.7, 2.2, -0.4}};
    for (int n = 0; n < 40; ++n)
        positions.emplace_back(coordinate(random), coordinate(random), coordinate(random));
    return positions;
}

// ---- construction -----------------------------------------------------------------------------------

TEST(HexLatticeNode, BuildsItsParametersAndCurvesInOrder) {
    FHexLattice node;
    EXPECT_EQ(node.Name(), "Hexagonal lattice 3D (1)");
    EXPECT_EQ(node.FunctionProperty, 12);

    const struct {
        const char* name;
        PTYPE type;
        double value;
        int flag, style;
        double low, high;
    } params[] = {
        {"Position", PTYPE::Vec3d, 0, 1, 0, -1.7976931348623157e308, 1.7976931348623157e308},
        {subdivisionName, PTYPE::Int, 10, 1, 0, -2147483648.0, 2147483647.0},
        {rescaleName, PTYPE::Int, 1, 0, 3, -2147483648.0, 2147483647.0},
        {modeName, PTYPE::Int, 3, 0, 0, 2, 3},
    };
    ASSERT_EQ(node.Params().size(), std::size(params));
    for (std::size_t i = 0; i < std::size(params); ++i) {
        const Param& param = *node.Params()[i];
        SCOPED_TRACE(params[i].name);
        EXPECT_EQ(param.Name(), params[i].name);
        EXPECT_EQ(param.Type(), params[i].type);
        EXPECT_EQ(param.Constant()[0], params[i].value);
        EXPECT_EQ(param.ParamFlag, params[i].flag);
        EXPECT_EQ(param.ParamStyle, params[i].style);
        EXPECT_EQ(param.Minimum()[0], params[i].low);
        EXPECT_EQ(param.Maximum()[0], params[i].high);
    }

    const double inverseSqrt3 = 1 / std::sqrt(3.0);
    const struct {
        const char* name;
        double low, high;
    } curves[] = {{"W1", 0, inverseSqrt3}, {"W2", 0.5, 1}, {"W3", inverseSqrt3, 1}};
    ASSERT_EQ(node.Curves().size(), std::size(curves));
    for (std::size_t i = 0; i < std::size(curves); ++i) {
        const CurveHolder& curve = *node.Curves()[i];
        EXPECT_EQ(curve.Name(), curves[i].name);
        EXPECT_EQ(curve.Form(), 1);
        EXPECT_EQ(curve.InputLow(), curves[i].low);
        EXPECT_EQ(curve.InputHigh(), curves[i].high);
    }
    EXPECT_TRUE(node.Gradients().empty());
}

// ---- cached settings ----------------------------------------------------------------------------------

// A new node evaluates on the sphere with ten steps and rescaling; its Vec2d follows the plane lattice.
TEST(HexLatticeNode, SettingsTakeEffectOnlyAtUpdate) {
    FHexLattice node;
    Prepare(node);
    for (const Vec3d& p : SamplePositions())
        ExpectOutputs(node, p, ExpectedOutputs(node, p, 10, 1, 3));
    EXPECT_EQ(Evaluate<double>(node, Vec3d()), 0.0);
    EXPECT_EQ(Components(Evaluate<Vec3d>(node, Vec3d())), Components(Vec3d()));

    Set(node, subdivisionName, 4);
    Set(node, rescaleName, 0);
    Set(node, modeName, 2);
    for (const Vec3d& p : SamplePositions())
        ExpectOutputs(node, p, ExpectedOutputs(node, p, 10, 1, 3));

    FunContext context;
    node.Update(0, &context);
    for (const Vec3d& p : SamplePositions())
        ExpectOutputs(node, p, ExpectedOutputs(node, p, 4, 0, 2));

    // The parameters change again; the node keeps the settings of the last Update.
    Set(node, modeName, 3);
    for (const Vec3d& p : SamplePositions())
        ExpectOutputs(node, p, ExpectedOutputs(node, p, 4, 0, 2));
}

// ---- outputs by mode -------------------------------------------------------------------------------

TEST(HexLatticeNode, PlaneModeIgnoresHeightAndSubdivision) {
    FHexLattice node;
    Prepare(node);
    for (int subdivision : {1, 10, 57}) {
        UpdateWith(node, subdivision, 1, 2);
        for (const Vec3d& p : SamplePositions()) {
            ExpectOutputs(node, p, ExpectedOutputs(node, p, subdivision, 1, 2));
            const Vec3d elsewhere(p.x, p.y, p.z * -3 + 1);
            EXPECT_EQ(Evaluate<double>(node, elsewhere), Evaluate<double>(node, p));
            EXPECT_EQ(Components(Evaluate<Vec3d>(node, elsewhere)), Components(Evaluate<Vec3d>(node, p)));
            EXPECT_EQ(Evaluate<Vec3d>(node, p).z, 0.0);
        }
    }
}

TEST(HexLatticeNode, OnlyRescaleOneNormalises) {
    FHexLattice node;
    Prepare(node);
    for (int mode : {2, 3}) {
        UpdateWith(node, 5, 0, mode);
        const Vec3d p(0.7, -1.9, 0.3);
        const Expected sum = ExpectedOutputs(node, p, 5, 0, mode);
        for (int rescale : {0, 2, -1}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << ", rescale " << rescale);
            UpdateWith(node, 5, rescale, mode);
            ExpectOutputs(node, p, sum);
        }
        UpdateWith(node, 5, 1, mode);
        const Expected average = ExpectedOutputs(node, p, 5, 1, mode);
        EXPECT_EQ(average.value, sum.value);
        EXPECT_NE(Components(average.point), Components(sum.point));
        ExpectOutputs(node, p, average);
    }
}

TEST(HexLatticeNode, IntTruncatesTheWeightSumTowardZero) {
    const struct {
        double weight;  // of each corner
        int expected;
    } cases[] = {{0.9, 2}, {-0.9, -2}, {0.3, 0}};
    for (const auto& c : cases) {
        FHexLattice node;
        Prepare(node);
        for (CurveHolder* curve : node.Curves())
            curve->SetPoints(0, {{0, c.weight}, {1, c.weight}});
        for (int mode : {2, 3}) {
            UpdateWith(node, 10, 1, mode);
            EXPECT_EQ(Evaluate<int>(node, Vec3d(0.4, 1.1, -0.2)), c.expected)
                << c.weight << ", mode " << mode;
        }
    }
}

// A mode outside 2 and 3 reaches the cache through a constant set past the range, or through a link.
TEST(HexLatticeNode, OtherModesWriteNothingAndConvertZeros) {
    FHexLattice linked;
    linked.FindParam(modeName)->LinkToPosition();
    FHexLattice constant;
    Set(constant, modeName, 5);
    for (Function* node : {static_cast<Function*>(&linked), static_cast<Function*>(&constant)}) {
        Prepare(*node);
        FunContext context{Vec3d(5.5, 0, 0)};
        node->Update(0, &context);
        const Vec3d p(0.3, 0.8, -0.5);
        EXPECT_EQ(Evaluate<double>(*node, p), vantrel::test::Garbage<double>());
        EXPECT_EQ(Components(Evaluate<Vec3d>(*node, p)), Components(vantrel::test::Garbage<Vec3d>()));
        EXPECT_EQ(Evaluate<int>(*node, p), 0);
        EXPECT_EQ(Components(Evaluate<Color>(*node, p)), Components(Color()));
        EXPECT_EQ(Components(Evaluate<ColorA>(*node, p)), Components(ColorA(0, 0, 0, 1)));
        EXPECT_EQ(Components(Evaluate<Vec4d>(*node, p)), Components(Vec4d()));
        EXPECT_EQ(Components(Evaluate<Quaternion>(*node, p)), Components(Quaternion()));
        EXPECT_EQ(Evaluate<std::string>(*node, p), "(0, 0, 0)");
        const Vec2d q = hexlattice::PlanePoint(p.x, p.y, Weights(*node), 1);
        EXPECT_EQ(Components(Evaluate<Vec2d>(*node, p)), Components(q));
    }
}

TEST(HexLatticeNode, EvaluationAllocatesNothing) {
    FHexLattice node;
    Prepare(node);
    for (int mode : {2, 3}) {
        UpdateWith(node, 10, 1, mode);
        FunContext context{Vec3d(0.3, -1.2, 0.8)};
        double value;
        Vec3d point;
        Vec2d planePoint;
        int whole;
        Color colour;
        const long before = vantrel::test::AllocationCount();
        node.Eval(&value, &context);
        node.Eval(&point, &context);
        node.Eval(&planePoint, &context);
        node.Eval(&whole, &context);
        node.Eval(&colour, &context);
        EXPECT_EQ(vantrel::test::AllocationCount() - before, 0) << "mode " << mode;
    }
}

// ---- clone ---------------------------------------------------------------------------------------

TEST(HexLatticeNode, CloneWithoutADescriptorGivesNull) {
    FHexLattice node;  // made directly: no loaded module lists its class id
    EXPECT_EQ(node.Clone(0, 0), nullptr);
}

TEST(HexLatticeNode, CloneEvaluatesLikeItsOriginalBeforeItsOwnUpdate) {
    const quib::Module module(VANTREL_MODULE_PATH);
    const quib::NodeType* type = module.Find("Hexagonal lattice 3D(1)");
    ASSERT_NE(type, nullptr);
    std::unique_ptr<Function> original = type->Create();
    ASSERT_NE(original, nullptr);
    Prepare(*original);
    UpdateWith(*original, 4, 0, 2);
    // The parameters move on after the Update: the clone takes the cached settings, not these.
    Set(*original, subdivisionName, 9);
    Set(*original, modeName, 3);

    std::unique_ptr<Plugged> copy(original->Clone(0, 0));
    auto* clone = dynamic_cast<Function*>(copy.get());
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->ClassID(), original->ClassID());
    for (const Vec3d& p : SamplePositions())
        ExpectOutputs(*clone, p, ExpectedOutputs(*original, p, 4, 0, 2));

    // Its own Update reads its own copies of the parameters.
    FunContext context;
    clone->Update(0, &context);
    for (const Vec3d& p : SamplePositions())
        ExpectOutputs(*clone, p, ExpectedOutputs(*original, p, 9, 0, 3));
}

}  // namespace
