// Faults the fuzz targets (fuzz/) found, each kept as a test of the promise it broke, with the input
// cut down to what matters; and one made by hand where the fuzzer cannot go, a scene far larger than
// its inputs.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>
#include <vector>

#include "host/curve_holder.h"
#include "host/gradient.h"
#include "quib/module_loader.h"
#include "scene/scene.h"
#include "tests/scene_text.h"

namespace {

using vantrel::test::SceneFromText;
using vantrel::test::TheModule;

// ---- Scenes (fuzz_scene) ----------------------------------------------------------------------------

// A number beyond the range of a double is bad input like any other: a SceneError naming the file and
// where the number starts, not the JSON parser's own exception (which vantrel reported as a failure
// while working, exit status 1).
TEST(SceneFindings, NumberBeyondTheRangeOfADoubleIsASceneError) {
    const std::string text = R"json({"format": "vantrel-scene/1", "output": "n",
        "nodes": [{"id": "n", "type": "W Distortion", "params": {"Position": [0, 0, -1e3080]}}]})json";
    try {
        SceneFromText(text, "huge.json");
        ADD_FAILURE() << "the scene loaded";
    } catch (const quib::Error& error) {
        EXPECT_STREQ(error.what(),
                     "huge.json: line 2, column 85: expected a number of at most 1.8e308 in "
                     "size: number overflow parsing '-1e3080'");
    } catch (const std::exception& error) {
        ADD_FAILURE() << "not a SceneError: " << error.what();
    }
}

// Extents that overflow to infinity on both axes made the aspect inf / inf, not-a-number; the height of
// an image must still be a whole number of at least 1 (a not-a-number converted to int is undefined),
// here the width of the square, and the samples the finite points of the domain.
TEST(SceneFindings, ImageHeightOfADomainWhoseExtentsOverflow) {
    const std::string text = R"json({"format": "vantrel-scene/1", "output": "n",
        "nodes": [{"id": "n", "type": "W Distortion"}],
        "domain": {"kind": "plane", "min": [-1e308, -1e308], "max": [1e308, 1e308]}})json";
    const vantrel::Scene scene = SceneFromText(text, "wide.json");
    for (const int width : {1, 512}) {
        EXPECT_EQ(scene.Domain().HeightFor(width), width);
    }
    const struct {
        double u, v, x, y;
    } samples[] = {{0.0, 0.0, -1e308, 1e308}, {1.0, 1.0, 1e308, -1e308}, {0.5, 0.5, 0.0, 0.0}};
    for (const auto& sample : samples) {
        const Vec3d position = scene.Domain().Position(sample.u, sample.v);
        EXPECT_EQ(position.x, sample.x) << sample.u;
        EXPECT_EQ(position.y, sample.y) << sample.v;
    }
}

/// A scene whose output reads a chain of `links` links: node i reads node i - 1 through its "Distortion".
std::string Chain(int links) {
    std::string nodes = R"({"id": "n0", "type": "W Distortion"})";
    for (int i = 1; i <= links; ++i) {
        nodes += R"(, {"id": "n)" + std::to_string(i) + R"(", "type": "W Distortion", "params": )";
        nodes += R"({"Distortion": {"link": "n)" + std::to_string(i - 1) + R"("}}})";
    }
    return R"({"format": "vantrel-scene/1", "nodes": [)" + nodes + R"(], "output": "n)" +
           std::to_string(links) + R"("})";
}

// Evaluation follows links by recursion, a few stack frames a link, so a long enough chain of links
// overflows the stack of the thread that evaluates it: vantrel eval crashed on a chain of 200,000 nodes
// in the optimised build, 50,000 in the debug one and 40,000 under AddressSanitizer (8 MB stacks). The
// loader finds its update order without recursion; it must also refuse a chain deeper than evaluation
// can surely follow (vantrel::maxLinkDepth, which leaves room in every build and on smaller stacks), with an
// error naming the scene, rather than load a scene that crashes whoever evaluates it.
TEST(SceneFindings, ChainOfLinksTooDeepToEvaluateIsRefused) {
    EXPECT_THROW(SceneFromText(Chain(19999), "chain.json"), quib::Error);
}

// The limit itself: a chain of vantrel::maxLinkDepth links loads and evaluates, one link more is refused at
// the link that starts the chain too long.
TEST(SceneFindings, ChainOfLinksAtTheLimitLoadsAndOneMoreIsRefused) {
    constexpr int limit = static_cast<int>(vantrel::maxLinkDepth);
    const vantrel::Scene scene = SceneFromText(Chain(limit), "chain.json");
    FunContext context{{0.25, 0.5, 0.75}};
    double value = 0.0;
    scene.Output().Eval(&value, &context);
    try {
        SceneFromText(Chain(limit + 1), "chain.json");
        ADD_FAILURE() << "a chain of " << limit + 1 << " links loaded";
    } catch (const quib::Error& error) {
        EXPECT_EQ(error.Pointer(), "/nodes/" + std::to_string(limit + 1) + "/params/Distortion/link");
        const std::string expected = "expected chains of at most " + std::to_string(limit) +
                                     " links; this link starts one of " + std::to_string(limit + 1);
        EXPECT_EQ(error.Detail(), expected);
    }
}

// ---- Curves and gradients (fuzz_node_load) ------------------------------------------------------------

/// Whether `value` lies within the least and the greatest of `range`.
bool Within(double value, const std::vector<double>& range) {
    const auto [low, high] = std::minmax_element(range.begin(), range.end());
    return *low <= value && value <= *high;
}

// A monotone curve never leaves the range of its points' y. A steep segment, whose secant slope
// overflows to infinity, made its cubic not-a-number.
TEST(CurveFindings, SteepSegmentStaysWithinItsPoints) {
    CurveHolder curve(1, "W2");
    curve.SetPoints(0, {{0.0, 0.0}, {2.591446574452400002e-10, 1e306}, {1.0, 1.0}});
    for (const double x : {1e-11, 1.2e-10, 2e-10, 0.5})
        EXPECT_TRUE(Within(curve.EvalGrey(x), {0.0, 1e306, 1.0})) << x << ": " << curve.EvalGrey(x);
}

// A segment wider than the largest double: its width overflowed, the straight line became flat at its
// first point, and past the middle x - x0 overflowed too and the cubic became not-a-number.
TEST(CurveFindings, SegmentWiderThanTheLargestDouble) {
    CurveHolder curve(1, "W1");
    curve.SetPoints(0, {{-1e308, 0.0}, {1e308, 1.0}});
    EXPECT_NEAR(curve.EvalGrey(0.0), 0.5, 1e-9);
    EXPECT_NEAR(curve.EvalGrey(0.9e308), 0.95, 1e-9);
    EXPECT_NEAR(curve.EvalGrey(-0.9e308), 0.05, 1e-9);
}

// The same overflows in a gradient: stops farther apart than the largest double, and colours that are.
TEST(GradientFindings, StopsFartherApartThanTheLargestDouble) {
    Gradient gradient("X color");
    gradient.SetStops({{-1e308, {0, 0, 0}}, {1e308, {1, 1, 1}}});
    for (const auto& [position, grey] : {std::pair{0.0, 0.5}, {0.9e308, 0.95}, {-0.9e308, 0.05}}) {
        Color colour;
        gradient.GetColour(position, colour);
        EXPECT_NEAR(colour.red, grey, 1e-9) << position;
        EXPECT_NEAR(colour.blue, grey, 1e-9) << position;
    }
}

TEST(GradientFindings, ColoursFartherApartThanTheLargestDouble) {
    Gradient gradient("X color");
    gradient.SetStops({{0, {-1e308, 0, 0}}, {1, {1e308, 1, 1}}});
    for (const double position : {0.25, 0.5, 0.75}) {
        Color colour;
        gradient.GetColour(position, colour);
        EXPECT_TRUE(Within(colour.red, {-1e308, 1e308})) << position << ": " << colour.red;
    }
}

}  // namespace
