// Faults the fuzz targets (fuzz/) found, each kept as a test of the promise it broke, with the input
// cut down to what matters.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>
#include <vector>

#include "host/curve_holder.h"
#include "host/gradient.h"
#include "quib/module_loader.h"
#include "quib/scene.h"

namespace {

const quib::Module& TheModule() {
    static const quib::Module module(VANTREL_MODULE_PATH);
    return module;
}

// ---- Scenes (fuzz_scene) ----------------------------------------------------------------------------

// A number beyond the range of a double is bad input like any other: a SceneError naming the file, not
// the JSON parser's own exception (which vantrel reported as a failure while working, exit status 1).
TEST(SceneFindings, NumberBeyondTheRangeOfADoubleIsASceneError) {
    const std::string text = R"json({"format": "vantrel-scene/1", "output": "n",
        "nodes": [{"id": "n", "type": "W Distortion", "params": {"Position": [0, 0, -1e3080]}}]})json";
    try {
        quib::Scene::FromText(text, "huge.json", TheModule());
        ADD_FAILURE() << "the scene loaded";
    } catch (const quib::SceneError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("huge.json: ", 0), 0u) << error.what();
    } catch (const std::exception& error) {
        ADD_FAILURE() << "not a SceneError: " << error.what();
    }
}

// Extents that overflow to infinity on both axes make the aspect inf / inf, not-a-number; the height of
// an image must still be a whole number of at least 1 (a not-a-number converted to int is undefined).
TEST(SceneFindings, ImageHeightOfADomainWhoseExtentsOverflow) {
    const std::string text = R"json({"format": "vantrel-scene/1", "output": "n",
        "nodes": [{"id": "n", "type": "W Distortion"}],
        "domain": {"kind": "plane", "min": [-1e308, -1e308], "max": [1e308, 1e308]}})json";
    const quib::Scene scene = quib::Scene::FromText(text, "wide.json", TheModule());
    for (const int width : {1, 512}) {
        const int height = scene.Domain().HeightFor(width);
        EXPECT_GE(height, 1) << width;
        EXPECT_LE(height, 1000000000) << width;
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
