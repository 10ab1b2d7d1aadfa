// The host's node library: the arithmetic of remap, math and mix against values worked out by hand,
// the edges (not-a-number, infinities, -0, huge values) included, and each node made directly and
// evaluated through the host runtime, in the nine output types.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "host/gradient.h"
#include "quib_nodes/arithmetic.h"
#include "quib_nodes/colour_nodes.h"
#include "quib_nodes/value_nodes.h"
#include "tests/node_values.h"

namespace {

using namespace quibnodes;
using vantrel::test::Components;
using vantrel::test::Evaluate;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double most = std::numeric_limits<double>::max();

/// Whether two doubles are the same: the same bits, but any not-a-number matches any other.
bool Same(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::memcmp(&a, &b, sizeof a) == 0;  // so that -0 is not 0
}

#define EXPECT_SAME(actual, expected) EXPECT_PRED2(Same, actual, expected)

// ---- Remap ------------------------------------------------------------------------------------------

TEST(Remap, TableOfRangesCurvesAndEdges) {
    const RemapRanges unit{0, 1, 0, 1};
    const RemapRanges wide{0, 10, 100, 200};
    const struct {
        const char* what;
        double v;
        RemapRanges ranges;
        RemapCurve curve;
        bool clamp;
        double expected;
    } cases[] = {
        {"identity", 0.3, unit, RemapCurve::Linear, false, 0.3},
        {"identity, upper half", 0.7, unit, RemapCurve::Linear, false, 0.7},
        {"a quarter of the way", 2.5, wide, RemapCurve::Linear, false, 125},
        {"below, extrapolated", -5, wide, RemapCurve::Linear, false, 50},
        {"below, clamped", -5, wide, RemapCurve::Linear, true, 100},
        {"above, extrapolated", 15, wide, RemapCurve::Linear, false, 250},
        {"above, clamped", 15, wide, RemapCurve::Linear, true, 200},
        {"the To range reversed", 0.25, {0, 1, 1, 0}, RemapCurve::Linear, true, 0.75},
        {"the From range reversed", 0.25, {1, 0, 0, 1}, RemapCurve::Linear, true, 0.75},
        // 0.2 + (0.9 - 0.2) rounds to 0.8999999999999999: the far end is reached from itself.
        {"the To max exactly", 1, {0, 1, 0.2, 0.9}, RemapCurve::Linear, false, 0.9},
        {"the To min exactly", 0, {0, 1, 0.2, 0.9}, RemapCurve::Linear, false, 0.2},
        {"smooth step, middle", 0.5, unit, RemapCurve::SmoothStep, false, 0.5},
        {"smooth step, 3/16 - 2/64", 0.25, unit, RemapCurve::SmoothStep, false, 0.15625},
        {"smooth step is flat below", -1, unit, RemapCurve::SmoothStep, false, 0},
        {"smooth step is flat above", 20, wide, RemapCurve::SmoothStep, false, 200},
        {"step, below the middle", 4.99, wide, RemapCurve::Step, false, 100},
        {"step, at the middle", 5, wide, RemapCurve::Step, false, 200},
        // Edges.
        {"not-a-number, linear", nan, unit, RemapCurve::Linear, true, nan},
        {"not-a-number, smooth", nan, unit, RemapCurve::SmoothStep, false, nan},
        {"not-a-number, step", nan, unit, RemapCurve::Step, false, nan},
        {"+infinity, extrapolated", inf, wide, RemapCurve::Linear, false, inf},
        {"-infinity, extrapolated", -inf, wide, RemapCurve::Linear, false, -inf},
        {"+infinity, clamped", inf, wide, RemapCurve::Linear, true, 200},
        {"-infinity, smooth", -inf, wide, RemapCurve::SmoothStep, false, 100},
        {"-0 gives +0", -0.0, unit, RemapCurve::Linear, false, 0.0},
        {"a From range of no width, below", 1, {2, 2, 0, 1}, RemapCurve::Linear, true, 0},
        {"a From range of no width, above", 3, {2, 2, 0, 1}, RemapCurve::Linear, true, 1},
        {"a From range of no width, at it", 2, {2, 2, 0, 1}, RemapCurve::Linear, true, nan},
        {"huge value, extrapolated", 1e308, unit, RemapCurve::Linear, false, 1e308},
        {"the widest From range", 0, {-most, most, 0, 1}, RemapCurve::Linear, false, 0.5},
        {"the widest To range", 0.5, {0, 1, -most, most}, RemapCurve::Linear, false, 0},
        {"the widest To range, its end", 1, {0, 1, -most, most}, RemapCurve::Linear, false, most},
    };
    for (const auto& c : cases)
        EXPECT_SAME(Remap(c.v, c.ranges, c.curve, c.clamp), c.expected) << c.what;
}

// ---- Math -------------------------------------------------------------------------------------------

TEST(Math, TableOfOperationsAndEdges) {
    using enum MathOperation;
    const struct {
        MathOperation operation;
        double a, b, expected;
    } cases[] = {
        {Add, 0.1, 0.2, 0.30000000000000004},
        {Add, inf, -inf, nan},
        {Add, -0.0, -0.0, -0.0},
        {Add, most, most, inf},
        {Subtract, 5, 7, -2},
        {Subtract, 0.0, 0.0, 0.0},
        {Multiply, 1.5, -4, -6},
        {Multiply, 0, inf, nan},
        {Divide, 1, 4, 0.25},
        {Divide, 1, -0.0, -inf},
        {Divide, 0, 0, nan},
        {Minimum, 3, -2, -2},
        {Minimum, nan, 1, nan},
        {Minimum, 1, nan, nan},
        {Minimum, 0.0, -0.0, -0.0},
        {Minimum, -0.0, 0.0, -0.0},
        {Minimum, -inf, 5, -inf},
        {Maximum, 3, -2, 3},
        {Maximum, 1, nan, nan},
        {Maximum, -0.0, 0.0, 0.0},
        {Maximum, 0.0, -0.0, 0.0},
        {Power, 3, 4, 81},
        {Power, -2, 3, -8},
        {Power, 2, -2, 0.25},
        {Power, 1.1, 2, 1.2100000000000002},
        {Power, 10, 22, 1e22},  // every power of ten on the way is exact
        {Power, 2, 2.9, 4},     // the exponent truncated toward zero
        {Power, 2, -2.9, 0.25},
        {Power, nan, 0, 1},
        {Power, 0, 0, 1},
        {Power, 0, -1, inf},
        {Power, -0.0, -1, -inf},
        {Power, -0.0, -2, inf},
        {Power, 2, 1024, inf},
        {Power, 2, -1075, 0},
        {Power, 1, 1e300, 1},    // an exponent beyond int saturates: INT_MAX
        {Power, -1, -1e300, 1},  // INT_MIN, whose magnitude does not fit an int
        {Power, 2, nan, 1},      // not-a-number truncates to 0
        {Absolute, -2.5, 9, 2.5},
        {Absolute, -0.0, 0, 0.0},
        {Absolute, -inf, 0, inf},
        {Floor, -2.5, 0, -3},
        {Floor, -0.0, 0, -0.0},
        {Floor, 1e300, 0, 1e300},
        {Floor, -inf, 0, -inf},
        {Fraction, 2.5, 0, 0.5},
        {Fraction, -2.25, 0, 0.75},
        {Fraction, -0.0, 0, 0.0},
        {Fraction, -1e-20, 0, 1},  // 1 - 1e-20 rounds to 1: the fraction reaches 1
        {Fraction, inf, 0, nan},
        {Modulo, 5.5, 2, 1.5},
        {Modulo, -5.5, 2, 0.5},  // the sign of b: the pattern repeats across 0
        {Modulo, 5.5, -2, -0.5},
        {Modulo, -1e-20, 1, 1},  // as the fraction: it reaches b
        {Modulo, 1, 0, nan},
        {Modulo, 1, inf, nan},
        {Modulo, inf, 1, nan},
    };
    for (const auto& c : cases) {
        EXPECT_SAME(Calculate(c.operation, c.a, c.b), c.expected)
            << "operation " << static_cast<int>(c.operation) << " on " << c.a << ", " << c.b;
    }
}

// ---- Mix --------------------------------------------------------------------------------------------

TEST(Mix, TableOfBlendModesAndFactors) {
    using enum BlendMode;
    const Color a(0.25, 0.5, 0.75);
    const Color b(0.5, 0.25, 1);
    const struct {
        const char* what;
        BlendMode mode;
        double factor;
        Color expected;
    } cases[] = {
        {"mix halfway: the mean", Mix, 0.5, Color(0.375, 0.375, 0.875)},
        {"mix, none of b", Mix, 0, a},
        {"mix, all of b", Mix, 1, b},
        {"the factor held at 1", Mix, 2, b},
        {"the factor held at 0", Mix, -1, a},
        {"add", Add, 1, Color(0.75, 0.75, 1.75)},
        {"multiply", Multiply, 1, Color(0.125, 0.125, 0.75)},
        {"multiply, halfway", Multiply, 0.5, Color(0.1875, 0.3125, 0.75)},
        {"screen: 1 - (1 - a)(1 - b)", Screen, 1, Color(0.625, 0.625, 1)},
        {"overlay: 2ab below a half, else the screen doubled", Overlay, 1, Color(0.25, 0.25, 1)},
        {"not-a-number factor", Mix, nan, Color(nan, nan, nan)},
    };
    for (const auto& c : cases) {
        const Color blended = Blend(a, b, c.factor, c.mode);
        EXPECT_SAME(blended.red, c.expected.red) << c.what;
        EXPECT_SAME(blended.green, c.expected.green) << c.what;
        EXPECT_SAME(blended.blue, c.expected.blue) << c.what;
    }
    // An infinite layer: its blend is infinite, and not-a-number (inf * 0) at either end of the way.
    EXPECT_SAME(Blend(a, Color(inf, 0, 0), 0.25, Mix).red, inf);
    EXPECT_SAME(Blend(a, Color(inf, 0, 0), 1, Mix).red, nan);
}

// ---- The nodes --------------------------------------------------------------------------------------

void Set(Function& node, const std::string& name, Param::Components value) {
    Param* param = node.FindParam(name);
    ASSERT_NE(param, nullptr) << name;
    param->SetConstant(value);
}

TEST(Nodes, IdentityAnswers) {
    FRemap remap;
    FMath math;
    FRandom random;
    FGradientMap gradientMap;
    FMix mix;
    FCombine combine;
    FPick pick;
    Function* nodes[] = {&remap, &math, &random, &gradientMap, &mix, &combine, &pick};
    const char* names[] = {"Remap", "Math", "Random", "Gradient map", "Mix", "Combine", "Pick"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(nodes[i]->ClassID(), 0x51554E00u + i) << names[i];
        EXPECT_EQ(nodes[i]->TypeName(), names[i]);
        EXPECT_EQ(nodes[i]->Name(), names[i]);
        EXPECT_EQ(nodes[i]->Category(), "Nodes-Quib");
        EXPECT_EQ(nodes[i]->ObjectType(), 0);
    }
}

/// The nine outputs of a node, by the rule of its result: a real v (-2.7), a colour (0.2, 0.4, 0.6) and
/// a vector (1, 2.5, -3), each worked out from the rule alone.
TEST(Nodes, NineOutputsFollowTheRuleOfTheResult) {
    FMath real;  // -2.7 + 0
    Set(real, "A", {-2.7});
    FMix colour;  // all of B
    Set(colour, "Factor", {1});
    Set(colour, "B", {0.2, 0.4, 0.6});
    FCombine vector;
    Set(vector, "X", {1});
    Set(vector, "Y", {2.5});
    Set(vector, "Z", {-3});
    const double v = -2.7;
    EXPECT_EQ(Evaluate<std::string>(real), "-2.7");
    EXPECT_EQ(Components(Evaluate<ColorA>(real)), (std::vector<double>{v, v, v, 1}));
    EXPECT_EQ(Components(Evaluate<Color>(real)), (std::vector<double>{v, v, v}));
    EXPECT_EQ(Components(Evaluate<Quaternion>(real)), (std::vector<double>{0, 0, 0, v}));
    EXPECT_EQ(Components(Evaluate<Vec4d>(real)), (std::vector<double>{v, v, v, v}));
    EXPECT_EQ(Components(Evaluate<Vec3d>(real)), (std::vector<double>{v, v, v}));
    EXPECT_EQ(Components(Evaluate<Vec2d>(real)), (std::vector<double>{v, v}));
    EXPECT_EQ(Evaluate<double>(real), v);
    EXPECT_EQ(Evaluate<int>(real), -2);

    EXPECT_EQ(Evaluate<std::string>(colour), "(0.2, 0.4, 0.6)");
    EXPECT_EQ(Components(Evaluate<ColorA>(colour)), (std::vector<double>{0.2, 0.4, 0.6, 1}));
    EXPECT_EQ(Components(Evaluate<Quaternion>(colour)), (std::vector<double>{0.2, 0.4, 0.6, 0}));
    EXPECT_EQ(Components(Evaluate<Vec4d>(colour)), (std::vector<double>{0.2, 0.4, 0.6, 0}));
    EXPECT_EQ(Components(Evaluate<Vec3d>(colour)), (std::vector<double>{0.2, 0.4, 0.6}));
    EXPECT_EQ(Components(Evaluate<Vec2d>(colour)), (std::vector<double>{0.2, 0.4}));
    EXPECT_EQ(Evaluate<double>(colour), ((0.4 + 0.6) + 0.2) * 0.3333333333333);
    EXPECT_EQ(Evaluate<int>(colour), 101);  // 1.2 * 84.99999999999915 = 101.99...
    Set(colour, "B", {1, 1, 1});
    EXPECT_EQ(Evaluate<double>(colour), 0.9999999999999001);
    EXPECT_EQ(Evaluate<int>(colour), 254);

    EXPECT_EQ(Evaluate<std::string>(vector), "(1, 2.5, -3)");
    EXPECT_EQ(Components(Evaluate<ColorA>(vector)), (std::vector<double>{1, 2.5, -3, 1}));
    EXPECT_EQ(Components(Evaluate<Color>(vector)), (std::vector<double>{1, 2.5, -3}));
    EXPECT_EQ(Components(Evaluate<Quaternion>(vector)), (std::vector<double>{1, 2.5, -3, 0}));
    EXPECT_EQ(Components(Evaluate<Vec4d>(vector)), (std::vector<double>{1, 2.5, -3, 0}));
    EXPECT_EQ(Components(Evaluate<Vec2d>(vector)), (std::vector<double>{1, 2.5}));
    EXPECT_EQ(Evaluate<double>(vector), 1);  // its first component
    EXPECT_EQ(Evaluate<int>(vector), 1);
}

TEST(Nodes, ReadTheirParameters) {
    FRemap remap;
    Set(remap, "Value", {2.5});
    Set(remap, "From max", {10});
    Set(remap, "To min", {100});
    Set(remap, "To max", {200});
    EXPECT_EQ(Evaluate<double>(remap), 125);
    Set(remap, "Value", {15});
    EXPECT_EQ(Evaluate<double>(remap), 200);  // "Clamp" is on in a new node
    Set(remap, "Clamp", {0});
    EXPECT_EQ(Evaluate<double>(remap), 250);
    Set(remap, "(0=linear, 1=smooth step, 2=step)Interpolation", {2});
    Set(remap, "Value", {5});
    EXPECT_EQ(Evaluate<double>(remap), 200);

    FMath math;
    Set(math, "A", {7});
    Set(math, "B", {2});
    const char* operation =
        "(0=add, 1=subtract, 2=multiply, 3=divide, 4=minimum, 5=maximum, 6=power, 7=absolute, 8=floor, "
        "9=fraction, 10=modulo)Operation";
    const double results[] = {9, 5, 14, 3.5, 2, 7, 49, 7, 7, 0, 1};
    for (int i = 0; i <= lastMathOperation; ++i) {
        Set(math, operation, {static_cast<double>(i)});
        EXPECT_EQ(Evaluate<double>(math), results[i]) << "operation " << i;
    }

    FPick pick;
    Set(pick, "Vector", {1, 2, 3, 4});
    for (int i = 0; i < 4; ++i) {
        Set(pick, "(0=x, 1=y, 2=z, 3=w)Component", {static_cast<double>(i)});
        EXPECT_EQ(Evaluate<double>(pick), i + 1.0);
    }
}

/// A list box linked to another node may be asked for any int: it is held to its entries.
TEST(Nodes, AListBoxReadFromALinkIsHeldToItsEntries) {
    FPick pick;
    Set(pick, "Vector", {1, 2, 3, 4});
    FMath source;  // its int: A truncated
    pick.FindParam("(0=x, 1=y, 2=z, 3=w)Component")->LinkTo(&source);
    const struct { double entry, expected; } cases[] = {{-5, 1}, {2, 3}, {7, 4}, {INT_MAX, 4}, {nan, 1}};
    for (const auto& c : cases) {
        Set(source, "A", {c.entry});
        EXPECT_EQ(Evaluate<double>(pick), c.expected) << c.entry;
    }
}

TEST(GradientMap, SmoothAndSteppedTable) {
    FGradientMap node;
    node.Gradients()[0]->SetStops({{0, {0, 0, 0}}, {0.5, {1, 0, 0}}, {1, {1, 1, 1}}});
    const char* stepped = "(0=smooth, 1=stepped)Interpolation";
    const struct {
        int steps;
        double value;
        Color expected;
    } cases[] = {
        {0, 0.25, Color(0.5, 0, 0)}, {0, 0.75, Color(1, 0.5, 0.5)},  {0, -1, Color(0, 0, 0)},
        {0, 2, Color(1, 1, 1)},      {0, nan, Color(nan, nan, nan)}, {1, 0.25, Color(0, 0, 0)},
        {1, 0.5, Color(1, 0, 0)},    {1, 0.75, Color(1, 0, 0)},      {1, 1, Color(1, 1, 1)},
        {1, -inf, Color(0, 0, 0)},   {1, inf, Color(1, 1, 1)},       {1, nan, Color(nan, nan, nan)},
    };
    for (const auto& c : cases) {
        Set(node, stepped, {static_cast<double>(c.steps)});
        Set(node, "Value", {c.value});
        const Color colour = Evaluate<Color>(node);
        SCOPED_TRACE(std::to_string(c.steps) + " at " + std::to_string(c.value));
        EXPECT_SAME(colour.red, c.expected.red);
        EXPECT_SAME(colour.green, c.expected.green);
        EXPECT_SAME(colour.blue, c.expected.blue);
    }
}

}  // namespace
