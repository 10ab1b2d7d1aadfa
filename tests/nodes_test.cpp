// The module's own nodes (all but the hexagonal lattice), created directly and evaluated through the
// host runtime: the leapfrog iteration, Vector to color, Curve3 and W Distortion.

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "generators/leapfrog_fractal.h"
#include "host/curve_holder.h"
#include "host/gradient.h"
#include "mappers/curve3.h"
#include "mappers/vector_to_color.h"
#include "mappers/w_distortion.h"
#include "tests/allocation_counter.h"
#include "tests/node_values.h"

namespace {

using vantrel::test::Components;
using vantrel::test::Evaluate;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

void Set(Function& node, const char* name, Param::Components value) {
    Param* param = node.FindParam(name);
    ASSERT_NE(param, nullptr) << name;
    param->SetConstant(value);
}

template <class T>
std::string Text(const T& value) {
    std::string text;
    Converter::convert(value, text);
    return text;
}

// ---- The leapfrog iteration -----------------------------------------------------------------------

const Vec3d xAxis(1, 0, 0);
const Vec3d yAxis(0, 1, 0);
const Vec3d zAxis(0, 0, 1);

/// Three directions that move in every round and meet the radius 0.5 in the fourth: after the first
/// round u = (-1, 0, 0), v = (1/3, 2/3, 2/3), w = (1/3, -2/3, -2/3); in the fourth, v + w = (-34/81, 0, 0).
const Vec3d orbitA(1, 0, 0);
const Vec3d orbitB(-1, -1, -1);
const Vec3d orbitC(-1, 1, 1);

struct LeapFrogCase {
    const char* what;
    Vec3d a, b, c;
    double radius;
    int iterations;
    double expected;
    double tolerance;  ///< 0: exact
};

TEST(LeapFrog, KnownResults) {
    const LeapFrogCase cases[] = {
        {"axes never move: 1 / 0.1^2", xAxis, yAxis, zAxis, 0.1, 100, 100.0, 1e-12},
        {"radius 1: lengths equal to r^2 go on", xAxis, yAxis, zAxis, 1.0, 100, 1.0, 0},
        {"radius 1.5: |v + w|^2 = 2 stops", xAxis, yAxis, zAxis, 1.5, 100, 2.0 / 2.25, 0},
        {"radius 1.2: |P|^2 = 1 stops", xAxis, yAxis, zAxis, 1.2, 100, 1.0 / 1.44, 1e-15},
        {"one round runs", xAxis, yAxis, zAxis, 0.1, 1, 100.0, 1e-12},
        {"|v + w|^2 = 4 = r^2 goes on, |u + w|^2 = 2 stops", xAxis, yAxis, yAxis, 2.0, 100, 0.5, 0},
        {"|u + v|^2 = 0 stops", xAxis, Vec3d(-1, 0, 0), zAxis, 0.1, 100, 0.0, 0},
        {"stops in the fourth round", orbitA, orbitB, orbitC, 0.5, 100, 4624.0 / 6561.0, 1e-12},
        {"three rounds run through", orbitA, orbitB, orbitC, 0.5, 3, 4.0, 1e-12},
        {"radius 0 never stops", xAxis, yAxis, zAxis, 0.0, 100, inf, 0},
        {"no rounds", xAxis, yAxis, zAxis, 0.1, 0, 0.0, 0},
        {"no rounds, negative", xAxis, yAxis, zAxis, 0.1, -5, 0.0, 0},
        {"no rounds, radius 0", xAxis, yAxis, zAxis, 0.0, 0, 0.0, 0},
        {"no rounds, zero vector", Vec3d(), yAxis, zAxis, 0.1, INT_MIN, 0.0, 0},
    };
    for (const LeapFrogCase& c : cases) {
        const double value = LeapFrogValue(c.a, c.b, c.c, c.radius, c.iterations);
        if (c.tolerance == 0)
            EXPECT_EQ(value, c.expected) << c.what;
        else
            EXPECT_NEAR(value, c.expected, c.tolerance) << c.what;
    }
}

// The iteration's results are exact to the bit; these were read from it as it stands. Each round
// normalises its three vectors a second time after scaling them by the reciprocal square root: without
// that step every value here moves by an ulp or more (30 rounds give 399.99999999999966, not 400).
TEST(LeapFrog, ResultsToTheBit) {
    const Vec3d a(0.3, -0.2, 0.9), b(0.2, 1, 0.3), c(-1, 0.5, 0.7);
    const Vec3d d(1, 2, 3), e(-3, 1, 0.5), f(0.25, -0.5, 2);
    const struct {
        Vec3d a, b, c;
        double radius;
        int iterations;
        double expected;
    } cases[] = {
        {a, b, c, 0.05, 30, 400},
        {a, b, c, 0.05, 100, 399.99999999999989},
        {d, e, f, 0.1, 7, 99.999999999999986},
        {d, e, f, 0.1, 1000, 99.999999999999986},
    };
    for (const auto& k : cases)
        EXPECT_EQ(LeapFrogValue(k.a, k.b, k.c, k.radius, k.iterations), k.expected) << k.iterations;
}

TEST(LeapFrog, OnlyDirectionsAndTheSquaredRadiusCount) {
    const double reference = LeapFrogValue(orbitA, orbitB, orbitC, 0.5, 100);
    EXPECT_EQ(LeapFrogValue(Vec3d(3, 0, 0), orbitB, orbitC, 0.5, 100), reference);  // 1 / 3 * 3 is exact
    EXPECT_NEAR(LeapFrogValue(orbitA, orbitB * 2.5, orbitC * 0.01, 0.5, 100), reference, 1e-12);
    EXPECT_EQ(LeapFrogValue(orbitA, orbitB, orbitC, -0.5, 100), reference);
    EXPECT_EQ(LeapFrogValue(xAxis, yAxis, zAxis, -1.5, 100), 2.0 / 2.25);
}

TEST(LeapFrog, ZeroVectorGivesNotANumber) {
    for (const auto& [a, b, c] : {std::tuple{Vec3d(), yAxis, zAxis}, std::tuple{xAxis, Vec3d(), zAxis},
                                  std::tuple{xAxis, yAxis, Vec3d()}})
        EXPECT_TRUE(std::isnan(LeapFrogValue(a, b, c, 0.1, 100)));
}

TEST(LeapFrog, NodeReadsItsParameters) {
    FLeapFrogFractal node;
    EXPECT_NEAR(Evaluate<double>(node), 100.0, 1e-12);

    Set(node, "A", {orbitA.x, orbitA.y, orbitA.z});
    Set(node, "B", {orbitB.x, orbitB.y, orbitB.z});
    Set(node, "C", {orbitC.x, orbitC.y, orbitC.z});
    Set(node, "Radius", {0.5});
    EXPECT_EQ(Evaluate<double>(node), LeapFrogValue(orbitA, orbitB, orbitC, 0.5, 100));
    Set(node, "Iterations", {3});
    EXPECT_EQ(Evaluate<double>(node), LeapFrogValue(orbitA, orbitB, orbitC, 0.5, 3));
    EXPECT_EQ(Evaluate<int>(node), 3);  // just under 4
    Set(node, "Iterations", {0});
    EXPECT_EQ(Evaluate<double>(node), 0.0);
}

TEST(LeapFrog, IntOfNonFiniteResultsSaturates) {
    FLeapFrogFractal node;
    Set(node, "Radius", {0});
    EXPECT_EQ(Evaluate<double>(node), inf);
    EXPECT_EQ(Evaluate<int>(node), INT_MAX);
    Set(node, "A", {0, 0, 0});
    EXPECT_EQ(Evaluate<int>(node), 0);  // not-a-number
    EXPECT_EQ(Evaluate<Quaternion>(node).x, 0.0);
    EXPECT_TRUE(std::isnan(Evaluate<Quaternion>(node).w));
}

// ---- Vector to color ------------------------------------------------------------------------------

const Color red(1, 0, 0), green(0, 1, 0), blue(0, 0, 1), white(1, 1, 1);

/// Makes every gradient of the node the constant colour given for it.
void PaintGradients(Function& node, const std::vector<Color>& colours) {
    for (std::size_t i = 0; i < colours.size(); ++i)
        node.Gradients()[i]->SetStops({{0.0, colours[i]}});
}

struct MixCase {
    Param::Components weights;
    Color expected;
};

TEST(VectorToColor, MixesByNormalisedWeights) {
    const MixCase cases[] = {
        {{1, 1, 1, 1}, {0.5, 0.5, 0.5}},
        {{2, 2, 2, 2}, {0.5, 0.5, 0.5}},
        {{1, 2, 1, 0}, {0.25, 0.5, 0.25}},
        {{1, 0, 0, 0}, red},
        {{0, 0, 0, 5}, white},
        {{2, -1, 0, 0}, {2, -1, 0}},  // negative weights stand; nothing is clamped
    };
    FVectorToColor node;
    PaintGradients(node, {red, green, blue, white});
    for (const MixCase& c : cases) {
        Set(node, "Weights", c.weights);
        EXPECT_EQ(Components(Evaluate<Color>(node)), Components(c.expected))
            << c.weights[0] << " " << c.weights[1] << " " << c.weights[2] << " " << c.weights[3];
    }
}

TEST(VectorToColor, EachComponentReadsItsOwnGradient) {
    FVectorToColor node;
    // Ramps of different slopes, wide enough that positions outside 0 .. 1 show they reach them.
    for (int i = 0; i < 4; ++i) {
        const double slope = i + 1;
        node.Gradients()[i]->SetStops({{-10, Color(-10 * slope, 0, 1)}, {10, Color(10 * slope, 0, 1)}});
    }
    Set(node, "In", {2, -3, 0.5, 7});
    const double positions[] = {2, -3, 0.5, 7};
    for (int i = 0; i < 4; ++i) {
        Param::Components weights{};
        weights[i] = 1;
        Set(node, "Weights", weights);
        Color expected;
        node.Gradients()[i]->GetColour(positions[i], expected);
        EXPECT_EQ(Components(Evaluate<Color>(node)), Components(expected)) << "component " << i;
        EXPECT_EQ(Evaluate<Color>(node).red, positions[i] * (i + 1)) << "component " << i;
    }
}

TEST(VectorToColor, ScalingTheWeightsKeepsTheColour) {
    FVectorToColor node;
    PaintGradients(node, {{0.1, 0.7, 0.3}, {0.9, 0.2, 0.4}, {0.35, 0.55, 0.05}, {0.6, 0.6, 0.95}});
    Set(node, "Weights", {0.3, 1.7, 2.9, 0.4});
    const Color reference = Evaluate<Color>(node);
    for (const double k : {3.0, 1e-3, -7.0, 1e9}) {
        Set(node, "Weights", {0.3 * k, 1.7 * k, 2.9 * k, 0.4 * k});
        const Color scaled = Evaluate<Color>(node);
        EXPECT_NEAR(scaled.red, reference.red, 1e-14) << k;
        EXPECT_NEAR(scaled.green, reference.green, 1e-14) << k;
        EXPECT_NEAR(scaled.blue, reference.blue, 1e-14) << k;
    }
}

TEST(VectorToColor, WeightsSummingToZeroGiveNotANumber) {
    FVectorToColor node;
    PaintGradients(node, {red, green, blue, white});
    for (const Param::Components& weights : {Param::Components{0, 0, 0, 0}, Param::Components{1, -1, 0, 0}}) {
        Set(node, "Weights", weights);
        for (double channel : Components(Evaluate<Color>(node)))
            EXPECT_TRUE(std::isnan(channel));
    }
}

TEST(VectorToColor, DefaultsMixTheGradientsAtZero) {
    FVectorToColor node;  // new gradients run from black at 0
    EXPECT_EQ(Components(Evaluate<Color>(node)), (std::vector<double>{0, 0, 0}));
    PaintGradients(node, {red, green, blue, white});
    EXPECT_EQ(Components(Evaluate<Color>(node)), (std::vector<double>{0.5, 0.5, 0.5}));
    EXPECT_EQ(Evaluate<int>(node), 127);
}

// ---- Curve3 ---------------------------------------------------------------------------------------

using Points = std::vector<CurveHolder::Point>;
const Points identity = {{0, 0}, {1, 1}};
const Points squaring = {{0, 0}, {0.25, 0.0625}, {0.5, 0.25}, {0.75, 0.5625}, {1, 1}};
const Points inverting = {{0, 1}, {1, 0}};

void SetCurves(FCurve3& node, const Points& r, const Points& g, const Points& b) {
    CurveHolder& curve = *node.Curves()[0];
    curve.SetPoints(0, r);
    curve.SetPoints(1, g);
    curve.SetPoints(2, b);
}

void ExpectColour(const Color& actual, const Color& expected) {
    EXPECT_DOUBLE_EQ(actual.red, expected.red);
    EXPECT_DOUBLE_EQ(actual.green, expected.green);
    EXPECT_DOUBLE_EQ(actual.blue, expected.blue);
}

TEST(Curve3, IdentityCurvesPassTheColour) {
    FCurve3 node;
    SetCurves(node, identity, identity, identity);
    ExpectColour(Evaluate<Color>(node), {0.5, 0.5, 0.5});
    Set(node, "In", {0.1, 0.6, 0.9});
    ExpectColour(Evaluate<Color>(node), {0.1, 0.6, 0.9});
}

TEST(Curve3, EachChannelThroughItsOwnCurve) {
    FCurve3 node;
    SetCurves(node, squaring, identity, inverting);
    Set(node, "In", {0.5, 0.25, 1});
    ExpectColour(Evaluate<Color>(node), {0.25, 0.25, 0});
}

TEST(Curve3, ChannelsAreIndependent) {
    FCurve3 node;
    SetCurves(node, squaring, identity, inverting);
    Set(node, "In", {0.5, 0.25, 1});
    const Color before = Evaluate<Color>(node);

    Set(node, "In", {0.5, 0.75, 1});  // green input only
    Color after = Evaluate<Color>(node);
    EXPECT_EQ(after.red, before.red);
    EXPECT_NE(after.green, before.green);
    EXPECT_EQ(after.blue, before.blue);

    Set(node, "In", {0.5, 0.25, 1});
    node.Curves()[0]->SetPoints(0, inverting);  // red curve only
    after = Evaluate<Color>(node);
    EXPECT_NE(after.red, before.red);
    EXPECT_EQ(after.green, before.green);
    EXPECT_EQ(after.blue, before.blue);
}

TEST(Curve3, NothingIsClamped) {
    FCurve3 node;
    const Points wide = {{-10, -10}, {10, 10}};
    const Points steep = {{0, -2}, {1, 3}};
    SetCurves(node, wide, wide, steep);
    Set(node, "In", {-3, 4, 0});
    ExpectColour(Evaluate<Color>(node), {-3, 4, -2});
    Set(node, "In", {7, -0.5, 1});
    ExpectColour(Evaluate<Color>(node), {7, -0.5, 3});
}

TEST(Curve3, OutputsThroughTheColourFrame) {
    FCurve3 node;  // new curves are straight lines from (0, 0) to (1, 1)
    Set(node, "In", {1, 1, 1});
    EXPECT_EQ(Evaluate<int>(node), 254);
    EXPECT_EQ(Evaluate<double>(node), 0.9999999999999001);
    EXPECT_EQ(Components(Evaluate<ColorA>(node)), (std::vector<double>{1, 1, 1, 1}));
}

// ---- W Distortion ---------------------------------------------------------------------------------

TEST(WDistortion, DistortionFillsTheLastComponent) {
    FWDistortion node;
    Set(node, "Position", {1, 2, 3});
    Set(node, "Distortion", {5});
    // "Position" read as a type of fewer components keeps its leading ones.
    EXPECT_EQ(Components(Evaluate<ColorA>(node)), (std::vector<double>{1, 2, 3, 5}));
    EXPECT_EQ(Components(Evaluate<Color>(node)), (std::vector<double>{1, 2, 5}));
    EXPECT_EQ(Components(Evaluate<Quaternion>(node)), (std::vector<double>{1, 2, 3, 5}));
    EXPECT_EQ(Components(Evaluate<Vec4d>(node)), (std::vector<double>{1, 2, 3, 5}));
    EXPECT_EQ(Components(Evaluate<Vec3d>(node)), (std::vector<double>{1, 2, 5}));
    EXPECT_EQ(Components(Evaluate<Vec2d>(node)), (std::vector<double>{1, 5}));
    EXPECT_EQ(Evaluate<double>(node), 5.0);
    EXPECT_EQ(Evaluate<int>(node), 5);
    EXPECT_EQ(Evaluate<std::string>(node), Text(Evaluate<Vec3d>(node)));
}

TEST(WDistortion, PositionFollowsTheSample) {
    FWDistortion node;
    node.FindParam("Position")->LinkToPosition();
    Set(node, "Distortion", {-1});
    EXPECT_EQ(Components(Evaluate<Vec4d>(node, {4, 5, 6})), (std::vector<double>{4, 5, 6, -1}));
    EXPECT_EQ(Evaluate<std::string>(node, {4, 5, 6}), Text(Vec3d(4, 5, -1)));
}

TEST(WDistortion, RealAndIntAreTheDistortionAlone) {
    const std::pair<double, int> cases[] = {{2.7, 2}, {-2.7, -2}, {inf, INT_MAX}, {-1e308, INT_MIN}};
    FWDistortion node;
    for (const auto& [distortion, integer] : cases) {
        for (const Param::Components& position : {Param::Components{0, 0, 0}, Param::Components{9, -9, 3}}) {
            Set(node, "Position", position);
            Set(node, "Distortion", {distortion});
            EXPECT_EQ(Evaluate<double>(node), distortion);
            EXPECT_EQ(Evaluate<int>(node), integer) << distortion;
        }
    }
}

TEST(WDistortion, DefaultsAreZeroEverywhere) {
    FWDistortion node;
    EXPECT_EQ(Components(Evaluate<ColorA>(node)), (std::vector<double>{0, 0, 0, 0}));  // alpha too
    EXPECT_EQ(Components(Evaluate<Quaternion>(node)), (std::vector<double>{0, 0, 0, 0}));
    EXPECT_EQ(Components(Evaluate<Color>(node)), (std::vector<double>{0, 0, 0}));
    EXPECT_EQ(Components(Evaluate<Vec2d>(node)), (std::vector<double>{0, 0}));
    EXPECT_EQ(Evaluate<int>(node), 0);
}

// ---- Evaluation allocates nothing -----------------------------------------------------------------

template <class T>
long AllocationsFor(Function& node) {
    T out{};
    FunContext context;
    const long before = vantrel::test::AllocationCount();
    node.Eval(&out, &context);
    return vantrel::test::AllocationCount() - before;
}

TEST(Evaluation, AllocatesNothingButText) {
    FWDistortion textNode;
    Set(textNode, "Position", {0.1234567, 0.7654321, 0});  // a text too long for the string's own buffer
    ASSERT_GT(AllocationsFor<std::string>(textNode), 0) << "the counter sees allocations";

    std::unique_ptr<Function> nodes[] = {std::make_unique<FLeapFrogFractal>(),
                                         std::make_unique<FVectorToColor>(), std::make_unique<FCurve3>(),
                                         std::make_unique<FWDistortion>()};
    for (auto& node : nodes) {
        SCOPED_TRACE(node->TypeName());
        EXPECT_EQ(AllocationsFor<ColorA>(*node), 0);
        EXPECT_EQ(AllocationsFor<Color>(*node), 0);
        EXPECT_EQ(AllocationsFor<Quaternion>(*node), 0);
        EXPECT_EQ(AllocationsFor<Vec4d>(*node), 0);
        EXPECT_EQ(AllocationsFor<Vec3d>(*node), 0);
        EXPECT_EQ(AllocationsFor<Vec2d>(*node), 0);
        EXPECT_EQ(AllocationsFor<double>(*node), 0);
        EXPECT_EQ(AllocationsFor<int>(*node), 0);
    }
}

}  // namespace
