// The host runtime's values: parameter reads and the conversion rule, curves, gradients and text.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "host/components.h"
#include "host/converter.h"
#include "host/curve_holder.h"
#include "host/gradient.h"
#include "host/param.h"
#include "quib/param_choices.h"
#include "quib/text.h"
#include "tests/fixtures/quib_test_node.h"

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

using Components = Param::Components;

/// Checks every read of `param`: the int as given, and each other read the leading components of
/// `wide`, the value widened to four components.
void ExpectReads(const Param& param, FunContext* context, int asInt, const Components& wide) {
    EXPECT_EQ(param.GetInt(context), asInt);
    EXPECT_EQ(param.GetDouble(context), wide[0]);
    const Vec2d v2 = param.GetVec2d(context);
    const Vec3d v3 = param.GetVec3d(context);
    const Vec4d v4 = param.GetVec4d(context);
    const Color c = param.GetColor(context);
    EXPECT_EQ((Components{v2.x, v2.y, wide[2], wide[3]}), wide);
    EXPECT_EQ((Components{v3.x, v3.y, v3.z, wide[3]}), wide);
    EXPECT_EQ((Components{c.red, c.green, c.blue, wide[3]}), wide);
    EXPECT_EQ((Components{v4.x, v4.y, v4.z, v4.w}), wide);
}

template <class T>
Param* Make(ParamObj* owner) {
    return new SParam<T>(owner, T{});
}

struct ConversionRow {
    const char* what;
    Param* (*make)(ParamObj*);
    Components constant;
    int asInt;
    Components wide;
};

const ConversionRow conversionTable[] = {
    {"int fills", Make<int>, {7, 0, 0, 0}, 7, {7, 7, 7, 7}},
    {"int truncated when set", Make<int>, {-3.9, 0, 0, 0}, -3, {-3, -3, -3, -3}},
    {"double fills", Make<double>, {-2.75, 0, 0, 0}, -2, {-2.75, -2.75, -2.75, -2.75}},
    {"double saturates", Make<double>, {1e300, 0, 0, 0}, INT_MAX, {1e300, 1e300, 1e300, 1e300}},
    {"double below int", Make<double>, {-inf, 0, 0, 0}, INT_MIN, {-inf, -inf, -inf, -inf}},
    {"vec3 keeps leading", Make<Vec3d>, {1.5, -2, 3, 9}, 1, {1.5, -2, 3, 0}},
    {"vec4 keeps all", Make<Vec4d>, {1, 2, 3, 4}, 1, {1, 2, 3, 4}},
    {"colour pads with 0", Make<Color>, {0.25, 0.5, 0.75, 9}, 0, {0.25, 0.5, 0.75, 0}},
};

/// A source node whose every output is distinct, to show which one a linked read asked for.
class Source : public QuibTestNode {
public:
    void Eval(int* out, FunContext*) override { *out = 11; }
    void Eval(double* out, FunContext*) override { *out = 2; }
    void Eval(Vec2d* out, FunContext*) override { *out = {2, 3}; }
    void Eval(Vec3d* out, FunContext*) override { *out = {2, 3, 4}; }
    void Eval(Vec4d* out, FunContext*) override { *out = {2, 3, 4, 5}; }
    void Eval(Color* out, FunContext*) override { *out = {2, 3, 4}; }
};

TEST(Param, ConstantsFollowTheConversionRule) {
    QuibTestNode owner;
    FunContext context{{100, 200, 300}};
    for (const ConversionRow& row : conversionTable) {
        SCOPED_TRACE(row.what);
        const std::unique_ptr<Param> param(row.make(&owner));
        param->SetConstant(row.constant);
        ExpectReads(*param, &context, row.asInt, row.wide);
    }
}

TEST(Param, PositionIsReadAsAConstantVec3dAndLinksAskTheirSource) {
    QuibTestNode owner;
    Source source;
    FunContext context{{1.5, -2, 3}};
    for (const ConversionRow& row : conversionTable) {
        const std::unique_ptr<Param> param(row.make(&owner));
        param->SetConstant({42, 42, 42, 42});
        param->LinkToPosition();
        ExpectReads(*param, &context, 1, {1.5, -2, 3, 0});
        param->LinkTo(&source);
        EXPECT_EQ(param->LinkedNode(), &source);
        ExpectReads(*param, &context, 11, {2, 3, 4, 5});
        EXPECT_EQ(param->Constant()[0], 42) << "the constant is kept while a link stands";
        param->LinkTo(nullptr);
        EXPECT_EQ(param->Kind(), Param::Source::Constant);
        EXPECT_EQ(param->GetDouble(&context), 42);
    }
}

TEST(Param, NewParameterHoldsItsValueAndTheExtremesOfItsType) {
    QuibTestNode owner;
    SParam<Vec4d> vector(&owner, Vec4d(1, 2, 3, 4));
    EXPECT_EQ(vector.Constant(), (Components{1, 2, 3, 4}));
    EXPECT_EQ(vector.Minimum()[3], std::numeric_limits<double>::lowest());
    EXPECT_EQ(vector.Maximum()[3], std::numeric_limits<double>::max());
    SParam<int> whole(&owner, -5);
    EXPECT_EQ(whole.Value(), -5);
    whole.SetConstant(whole.Constant());  // the constant it stores is the one it reads
    EXPECT_EQ(whole.Value(), -5);
    vector.SetConstant(vector.Constant());
    EXPECT_EQ(vector.Constant(), (Components{1, 2, 3, 4}));
    EXPECT_EQ(whole.Minimum()[0], INT_MIN);
    EXPECT_EQ(whole.Maximum()[0], INT_MAX);
    EXPECT_EQ(whole.ComponentCount(), 1);
    EXPECT_EQ(SParam<Color>(&owner, Color()).ComponentCount(), 3);
    EXPECT_EQ(SParam<double>(&owner, nan).GetInt(nullptr), 0);
}

TEST(Param, RangeComparesTheTypesComponents) {
    QuibTestNode owner;
    SParam<Color> colour(&owner, Color());
    colour.SetRange(Color(0, 0, 0), Color(1, 1, 1));
    EXPECT_TRUE(colour.InRange({0, 1, 0.5, 99}));  // the fourth component is not the type's
    EXPECT_FALSE(colour.InRange({0, 1.5, 0.5, 0}));
    EXPECT_FALSE(colour.InRange({nan, 0, 0, 0}));
    // The extremes of a real leave the range open: every real, infinite or not a number, is in it.
    SParam<double> real(&owner, 0.0);
    for (double v : {-inf, inf, nan, 1e308})
        EXPECT_TRUE(real.InRange({v, 0, 0, 0})) << v;
    real.SetRange(-1.0, 1.0);
    for (double v : {-inf, inf, nan, 1.5})
        EXPECT_FALSE(real.InRange({v, 0, 0, 0})) << v;
}

// An int parameter whose name begins with "(value=label, ...)" is a list box of those entries.
TEST(Param, ChoicesAreReadFromTheName) {
    using quib::Choice;
    const struct {
        const char* name;
        std::vector<Choice> choices;
    } cases[] = {
        {"(2=plane, 3=sphere)(how to make list box]", {{2, "plane"}, {3, "sphere"}}},
        {"(0=off)", {{0, "off"}}},
        {"(-1=below,0= level ,  12=far above)) rest", {{-1, "below"}, {0, "level"}, {12, "far above"}}},
        {"(1=a=b, 2=(c)", {{1, "a=b"}, {2, "(c"}}},
        {"Subdivision", {}},
        {"", {}},
        {" (2=plane, 3=sphere)", {}},  // not at the start
        {"(2=plane, 3=sphere", {}},    // not closed
        {"(2=plane, 3=)", {}},         // an empty label
        {"(2=plane,)", {}},            //
        {"()", {}},                    //
        {"(x=plane)", {}},             // not a number
        {"(2 =plane)", {}},            //
        {"(2.5=half)", {}},            //
        {"(+2=plane)", {}},            //
        {"(2147483648=big)", {}},      // beyond int
        {"(2147483647=big, -2147483648=small)", {{2147483647, "big"}, {-2147483648, "small"}}},
    };
    QuibTestNode owner;
    for (const auto& c : cases) {
        SParam<int> whole(&owner, 0);
        whole.SetName(c.name);
        EXPECT_EQ(quib::ChoicesOf(whole), c.choices) << c.name;
        EXPECT_EQ(quib::ChoicesInName(c.name), c.choices) << c.name;
    }
    // Only an int chooses.
    SParam<double> real(&owner, 0.0);
    real.SetName("(2=plane, 3=sphere)");
    EXPECT_TRUE(quib::ChoicesOf(real).empty());
}

TEST(Components, AlphaIsOneUnlessGivenAndScalarsFillQuaternions) {
    ColorA colour;
    host::Convert({0.5, 0, 0, 0}, 1, &colour);
    EXPECT_EQ(colour.alpha, 1);
    EXPECT_EQ(colour.blue, 0.5);
    host::Convert({1, 2, 3, 0}, 3, &colour);
    EXPECT_EQ(colour.alpha, 1);
    host::Convert({1, 2, 3, 0.25}, 4, &colour);
    EXPECT_EQ(colour.alpha, 0.25);
    Quaternion q;
    host::Convert({2, 0, 0, 0}, 1, &q);
    EXPECT_EQ(q.w, 2);
    host::Convert({1, 2, 3, 0}, 3, &q);
    EXPECT_EQ(q.w, 0);
}

// ---- Curves

TEST(Curve, DefaultLineMapsEveryInputToItself) {
    CurveHolder curve(1, "c");
    std::mt19937_64 random(1);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 10000; ++i) {
        const double x = unit(random);
        ASSERT_EQ(curve.EvalGrey(x), x);
    }
    EXPECT_EQ(curve.EvalGrey(-3), 0);
    EXPECT_EQ(curve.EvalGrey(7), 1);
    EXPECT_TRUE(std::isnan(curve.EvalGrey(nan)));
}

TEST(Curve, InputRangeResetsEveryCurveToTheLine) {
    CurveHolder curve(3, "c");
    curve.SetPoints(1, {{0, 1}, {1, 0}});
    curve.SetInputRange(2, 6);
    for (int channel = 0; channel < 3; ++channel) {
        EXPECT_EQ(curve.Points(channel).size(), 2u);
        EXPECT_EQ(curve.Points(channel)[0].x, 2);
        EXPECT_EQ(curve.Points(channel)[1].x, 6);
    }
    EXPECT_EQ(curve.EvalGreen(4), 0.5);
    EXPECT_EQ(curve.EvalBlue(1), 0);
    EXPECT_EQ(curve.EvalRed(9), 1);
    EXPECT_THROW(curve.SetInputRange(1, 1), std::invalid_argument);
    EXPECT_THROW(curve.SetInputRange(0, inf), std::invalid_argument);
    EXPECT_EQ(curve.InputLow(), 2);
}

TEST(Curve, FormsSelectTheirChannels) {
    CurveHolder grey(1, "g");
    grey.SetPoints(0, {{0, 0.25}});
    EXPECT_EQ(grey.Form(), 1);
    for (double v : {grey.EvalRed(5), grey.EvalGreen(5), grey.EvalBlue(5)})
        EXPECT_EQ(v, 0.25);
    CurveHolder rgb(3, "rgb");
    rgb.SetPoints(0, {{0, 1}});
    rgb.SetPoints(1, {{0, 2}});
    rgb.SetPoints(2, {{0, 3}});
    EXPECT_EQ(rgb.EvalRed(0.5), 1);
    EXPECT_EQ(rgb.EvalGreen(0.5), 2);
    EXPECT_EQ(rgb.EvalBlue(0.5), 3);
    EXPECT_EQ(CurveHolder(2, "x").Form(), 1);
}

TEST(Curve, BadPointsAreRefusedAndChangeNothing) {
    CurveHolder curve(1, "c");
    const std::vector<std::vector<CurveHolder::Point>> bad = {
        {}, {{0, 0}, {0, 1}}, {{1, 0}, {0, 1}}, {{0, nan}}, {{inf, 0}}};
    for (const auto& points : bad)
        EXPECT_THROW(curve.SetPoints(0, points), std::invalid_argument);
    EXPECT_EQ(curve.EvalGrey(0.3), 0.3);
    EXPECT_THROW(curve.SetPoints(1, {{0, 0}}), std::out_of_range);
}

/// Random control points whose y never decreases (or never increases), with flat runs.
std::vector<CurveHolder::Point> RandomMonotonePoints(std::mt19937_64& random, bool decreasing) {
    std::uniform_int_distribution<int> count(2, 9);
    std::uniform_real_distribution<double> step(0.001, 3.0);
    std::uniform_int_distribution<int> flat(0, 3);
    std::vector<CurveHolder::Point> points;
    double x = step(random) - 1.5;
    double y = step(random);
    for (int i = count(random); i > 0; --i) {
        points.push_back({x, y});
        x += step(random);
        const double rise = flat(random) == 0 ? 0.0 : step(random) * step(random);
        y += decreasing ? -rise : rise;
    }
    return points;
}

TEST(Curve, MonotonePointsGiveAMonotoneCurveThatNeverOvershoots) {
    std::mt19937_64 random(7);
    for (int set = 0; set < 2000; ++set) {
        const bool decreasing = set % 2 == 1;
        const auto points = RandomMonotonePoints(random, decreasing);
        CurveHolder curve(1, "c");
        curve.SetPoints(0, points);
        double previous = curve.EvalGrey(points.front().x);
        for (std::size_t k = 0; k + 1 < points.size(); ++k) {
            const CurveHolder::Point& p0 = points[k];
            const CurveHolder::Point& p1 = points[k + 1];
            ASSERT_EQ(curve.EvalGrey(p0.x), p0.y) << "exact at its control points";
            constexpr int samples = 64;
            for (int s = 1; s <= samples; ++s) {
                const double y = curve.EvalGrey(p0.x + (p1.x - p0.x) * s / samples);
                ASSERT_GE(y, std::min(p0.y, p1.y)) << "set " << set << " segment " << k;
                ASSERT_LE(y, std::max(p0.y, p1.y)) << "set " << set << " segment " << k;
                if (p0.y == p1.y) {
                    ASSERT_EQ(y, p0.y) << "a flat run stays flat";
                }
                // Monotone up to the rounding of one evaluation.
                const double slack = 1e-12 * (std::abs(y) + 1.0);
                ASSERT_TRUE(decreasing ? y <= previous + slack : y >= previous - slack) << "set " << set;
                previous = y;
            }
        }
        EXPECT_EQ(curve.EvalGrey(points.front().x - 1), points.front().y);
        EXPECT_EQ(curve.EvalGrey(points.back().x + 1), points.back().y);
    }
}

TEST(Curve, StraightPointsGiveTheirLine) {
    CurveHolder curve(1, "c");
    curve.SetPoints(0, {{0, 0}, {1, 2}, {2, 4}, {4, 8}});
    for (double x : {0.125, 0.5, 1.5, 3.0, 3.75})
        EXPECT_EQ(curve.EvalGrey(x), 2 * x);
}

TEST(Curve, SteepNeighboursKeepTheCurveRising) {
    // The mean tangents beside the steep middle segment are far too long for the gentle outer ones:
    // unlimited, their cubics would swing past the end values (and be cut off flat there).
    CurveHolder curve(1, "c");
    curve.SetPoints(0, {{0, 0}, {1, 0.001}, {1.01, 0.999}, {2, 1}});
    double previous = 0.0;
    for (int s = 1; s < 1000; ++s) {
        const double y = curve.EvalGrey(s * 0.002);
        ASSERT_GT(y, previous) << s * 0.002;
        previous = y;
    }
}

TEST(Curve, SinglePointIsConstant) {
    CurveHolder curve(1, "c");
    curve.SetPoints(0, {{0.5, 0.7}});
    for (double x : {-1e300, 0.0, 0.5, 3.0})
        EXPECT_EQ(curve.EvalGrey(x), 0.7);
    EXPECT_TRUE(std::isnan(curve.EvalGrey(nan)));
}

// ---- Gradients

void ExpectColour(const Gradient& gradient, double position, const Color& expected) {
    Color colour(-1, -1, -1);
    gradient.GetColour(position, colour);
    EXPECT_EQ(colour.red, expected.red) << position;
    EXPECT_EQ(colour.green, expected.green) << position;
    EXPECT_EQ(colour.blue, expected.blue) << position;
}

TEST(Gradient, LinearBetweenStopsConstantBeyond) {
    Gradient gradient("g");
    gradient.SetStops({{-1, {1, 0, 0}}, {1, {0, 1, 0}}, {3, {0, 1, 1}}});
    ExpectColour(gradient, -1, {1, 0, 0});
    ExpectColour(gradient, 0, {0.5, 0.5, 0});
    ExpectColour(gradient, 1, {0, 1, 0});
    ExpectColour(gradient, 2.5, {0, 1, 0.75});
    ExpectColour(gradient, 3, {0, 1, 1});
    ExpectColour(gradient, 1e300, {0, 1, 1});
    ExpectColour(gradient, -inf, {1, 0, 0});
    Color colour;
    gradient.GetColour(nan, colour);
    EXPECT_TRUE(std::isnan(colour.red) && std::isnan(colour.green) && std::isnan(colour.blue));
}

// Between two stops every channel lies between the stops' values, and a channel the stops share is that
// value exactly: weighting the ends by 1 - t and t rounds past them (0.1 * 0.7 + 0.1 * 0.3 is not 0.1).
TEST(Gradient, ChannelsStayBetweenTheirStops) {
    const struct {
        Color from, to;
    } cases[] = {
        {{0.1, 0.7, 1e-300}, {0.1, 0.7, 1e-300}},
        {{0.3, 0.2, 0.9}, {0.3, 0.6, 0.9}},
        {{1.7976931348623157e308, -1, 0.1}, {1.7976931348623157e308, 1, 0.1}},
        {{0.1, 0.2, 0.3}, {0.7, 0.1, 0.30000000000000004}},
    };
    for (const auto& c : cases) {
        Gradient gradient("g");
        gradient.SetStops({{0, c.from}, {1, c.to}});
        for (int step = 1; step < 1000; ++step) {
            const double position = step / 1000.0;
            Color colour;
            gradient.GetColour(position, colour);
            const double channels[][3] = {{colour.red, c.from.red, c.to.red},
                                          {colour.green, c.from.green, c.to.green},
                                          {colour.blue, c.from.blue, c.to.blue}};
            for (const auto& [value, from, to] : channels) {
                ASSERT_GE(value, std::min(from, to)) << position;
                ASSERT_LE(value, std::max(from, to)) << position;
            }
        }
    }
}

TEST(Gradient, BadStopsAreRefusedAndChangeNothing) {
    Gradient gradient("g");
    const std::vector<std::vector<Gradient::Stop>> bad = {
        {}, {{0, {}}, {0, {}}}, {{1, {}}, {0, {}}}, {{nan, {}}}, {{0, {0, inf, 0}}}};
    for (const auto& stops : bad)
        EXPECT_THROW(gradient.SetStops(stops), std::invalid_argument);
    // Still the default, black at 0 to white at 1.
    EXPECT_EQ(gradient.Stops().size(), 2u);
    ExpectColour(gradient, -4, {0, 0, 0});
    ExpectColour(gradient, 0.25, {0.25, 0.25, 0.25});
    ExpectColour(gradient, 4, {1, 1, 1});
}

// ---- Text

TEST(Text, ShortestDecimalsAndNonFiniteWords) {
    const std::pair<double, const char*> table[] = {
        {0.1, "0.1"},           {1.0, "1"},   {-0.0, "-0"},  {1e300, "1e+300"}, {5e-324, "5e-324"},
        {123456.5, "123456.5"}, {nan, "nan"}, {-nan, "nan"}, {inf, "inf"},      {-inf, "-inf"},
    };
    for (const auto& [value, text] : table)
        EXPECT_EQ(quib::FormatReal(value), text);
    std::string text = "old";
    Converter::convert(0.5, text);
    EXPECT_EQ(text, "0.5");
    Converter::convert(Color(1, 0.5, -2), text);
    EXPECT_EQ(text, "(1, 0.5, -2)");
    Converter::convert(Vec3d(nan, inf, 0.25), text);
    EXPECT_EQ(text, "(nan, inf, 0.25)");
}

TEST(Text, EveryFiniteRealReadsBackExactly) {
    std::mt19937_64 random(3);
    for (int i = 0; i < 100000; ++i) {
        const double value = std::bit_cast<double>(random());
        if (!std::isfinite(value)) continue;
        const std::string text = quib::FormatReal(value);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(std::strtod(text.c_str(), nullptr)),
                  std::bit_cast<std::uint64_t>(value))
            << text;
    }
}

}  // namespace
