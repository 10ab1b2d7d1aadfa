// The plan of a render: what a request leaves unsaid taken from the scene, and every value checked in
// one set of words, whichever door named the fields.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/scene_text.h"
#include "tools/render/image_request.h"

namespace vantrel::test {
namespace {

/// A plane twice as wide as high, whose own type is double and own samples 3.
const char* const planeScene = R"({
  "format": "vantrel-scene/1",
  "domain": {"kind": "plane", "min": [0, 0], "max": [2, 1]},
  "output_type": "double",
  "samples": 3,
  "nodes": [{"id": "w", "type": "W Distortion", "params": {"Position": {"link": "@position"}}}],
  "output": "w"
})";

ImageRequest Asked(void (*change)(ImageRequest&)) {
    ImageRequest request;
    change(request);
    return request;
}

TEST(ImagePlan, TakesWhatTheRequestLeavesFromTheScene) {
    const Scene scene = SceneFromText(planeScene, "plane.json");
    const struct {
        const char* what;
        ImageRequest request;
        OutputType type;
        int width, height, samples, depth;
        PngLevels levels;
    } rows[] = {
        {"nothing asked", {}, OutputType::Double, 512, 256, 3, 8, PngLevels::Data},
        {"an int takes one sample", Asked([](ImageRequest& r) { r.type = OutputType::Int; }), OutputType::Int,
         512, 256, 1, 8, PngLevels::Data},
        {"a colour is sRGB", Asked([](ImageRequest& r) { r.type = OutputType::Color; }), OutputType::Color,
         512, 256, 3, 8, PngLevels::Srgb},
        {"linear asked", Asked([](ImageRequest& r) { r.type = OutputType::Color, r.linear = true; }),
         OutputType::Color, 512, 256, 3, 8, PngLevels::Linear},
        {"a region's shape", Asked([](ImageRequest& r) {
             r.width = 100, r.region = {{0, 0, 1, 1}};
         }),
         OutputType::Double, 100, 100, 3, 8, PngLevels::Data},
        {"all given", Asked([](ImageRequest& r) { r.width = 7, r.height = 5, r.samples = 2, r.depth = 16; }),
         OutputType::Double, 7, 5, 2, 16, PngLevels::Data},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const ImagePlan plan = PlanImage(row.request, scene, "plane.json", JsonRequestFields());
        EXPECT_EQ(plan.type, row.type);
        EXPECT_EQ(plan.width, row.width);
        EXPECT_EQ(plan.height, row.height);
        EXPECT_EQ(plan.samples, row.samples);
        EXPECT_EQ(plan.depth, row.depth);
        EXPECT_EQ(plan.levels, row.levels);
        EXPECT_GE(plan.threads, 1);
    }
}

// A part file keeps its plan's canonical form; read back, it must be the same plan, whatever the domain.
TEST(ImagePlan, ACanonicalFormReadsBackAsItsPlan) {
    std::string sphereText = planeScene;
    const std::string planeDomain = R"({"kind": "plane", "min": [0, 0], "max": [2, 1]})";
    sphereText.replace(sphereText.find(planeDomain), planeDomain.size(), R"({"kind": "sphere"})");
    const Scene plane = SceneFromText(planeScene, "plane.json");
    const Scene sphere = SceneFromText(sphereText, "sphere.json");
    const struct {
        const Scene& scene;
        ImageRequest request;
    } rows[] = {
        {plane, Asked([](ImageRequest& r) { r.format = ImageFormat::Png; })},
        {plane, Asked([](ImageRequest& r) {
             r.format = ImageFormat::Png, r.type = OutputType::Color, r.linear = true, r.depth = 16;
             r.region = {{0.25, -1e-300, 0.5, 0.125}};
         })},
        {sphere, Asked([](ImageRequest& r) { r.format = ImageFormat::Png, r.samples = 16; })},
        {sphere, Asked([](ImageRequest& r) {
             r.format = ImageFormat::Png, r.width = 3000000, r.window = {{2999999, 1499999, 1, 1}};
         })},
        {sphere, Asked([](ImageRequest& r) {
             r.format = VANTREL_OPENEXR ? ImageFormat::Exr : ImageFormat::Png, r.type = OutputType::Vec3;
             r.region = {{-180, -90, 0.1, 1e-3}};
         })},
    };
    for (const auto& row : rows) {
        const ImagePlan plan = PlanImage(row.request, row.scene, "scene.json", JsonRequestFields());
        SCOPED_TRACE(CanonicalForm(plan).dump());
        const ImagePlan read = PlanOfCanonicalForm(CanonicalForm(plan), "/render");
        EXPECT_EQ(CanonicalForm(read), CanonicalForm(plan));
        EXPECT_EQ(read.domain.sphereWindow, plan.domain.sphereWindow);
        EXPECT_EQ(read.levels, plan.levels);
        EXPECT_EQ(read.Grid().width, plan.Grid().width);
        EXPECT_EQ(read.Grid().top, plan.Grid().top);
    }
}

TEST(ImagePlan, RefusesInOneSetOfWords) {
    std::string textScene = planeScene;
    textScene.replace(textScene.find("\"double\""), 8, "\"string\"");
    const Scene plane = SceneFromText(planeScene, "plane.json");
    const Scene text = SceneFromText(textScene, "text.json");
    const ImageBounds preview{4096, 4096L * 2048L};
    const struct {
        const Scene& scene;
        ImageRequest request;
        std::optional<ImageBounds> bounds;
        std::string message;
    } rows[] = {
        {plane,
         Asked([](ImageRequest& r) { r.type = OutputType::String; }),
         {},
         R"(request: "type": an image needs a numeric output type, not string)"},
        {text, {}, {}, "text.json: /output_type: an image needs a numeric output type, not string"},
        {plane,
         Asked([](ImageRequest& r) { r.type = OutputType::Int, r.samples = 2; }),
         {},
         R"(request: "samples": a pixel's sub-samples are averaged, and a mean of integers is no integer; )"
         R"(request: "samples" is for the real-valued types, not int)"},
        {plane,
         Asked([](ImageRequest& r) { r.samples = 17; }),
         {},
         R"(request: "samples": expected a whole number from 1 to 16, the sub-samples along each side of a )"
         "pixel, not 17"},
        {plane,
         Asked([](ImageRequest& r) { r.threads = 0; }),
         {},
         R"(request: "threads": expected a whole number from 1 to 1024, the render threads, not 0)"},
        // A build without OpenEXR (Windows') refuses the format before the depth.
        {plane,
         Asked([](ImageRequest& r) { r.format = ImageFormat::Exr, r.depth = 16; }),
         {},
         VANTREL_OPENEXR
             ? R"(request: "depth": an OpenEXR image always holds 32-bit floats; request: "depth" )"
               R"(is for PNG, not request: "format")"
             : R"(request: "format": this build of vantrel writes PNG only, not OpenEXR)"},
        {plane,
         Asked([](ImageRequest& r) { r.tile = 64; }),
         {},
         R"(request: "tile": expected an OpenEXR image to tile, not an image in memory)"},
        {plane,
         Asked([](ImageRequest& r) { r.depth = 12; }),
         {},
         R"(request: "depth": expected 8 or 16, the bits a channel of a PNG, not 12)"},
        {plane,
         Asked([](ImageRequest& r) { r.width = 0; }),
         {},
         R"(request: "width": expected at least 1 pixel wide, not 0)"},
        {plane, Asked([](ImageRequest& r) { r.width = 4097; }), preview,
         R"(request: "width": expected at most 4096 pixels wide for a preview, not 4097)"},
        {plane, Asked([](ImageRequest& r) { r.width = 4096, r.height = 4096; }), preview,
         R"(request: "width": expected an image of at most 8388608 pixels, not 4096x4096)"},
        {plane,
         Asked([](ImageRequest& r) { r.width = 8, r.parts = 5; }),
         {},
         R"(request: "parts": expected a whole number from 1 to 4, the rows of the 8x4 image, not 5)"},
        {plane,
         Asked([](ImageRequest& r) {
             r.width = 8, r.window = {{4, 0, 5, 4}};
         }),
         {},
         R"(request: "window": expected a window X,Y,W,H of the 8x4 image: X + W at most 8 and Y + H at )"
         "most 4, X and Y from 0, W and H from 1, not 4,0,5,4"},
        // A window's own size is what a preview bounds, not the whole image's.
        {plane, Asked([](ImageRequest& r) {
             r.width = 1 << 20, r.window = {{0, 0, 4097, 1}};
         }),
         preview, R"(request: "window": expected at most 4096 pixels wide for a preview, not 4097)"},
        {plane,
         Asked([](ImageRequest& r) {
             r.region = {{0, 0, 0, 1}};
         }),
         {},
         R"(request: "region": )"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.message);
        try {
            PlanImage(row.request, row.scene, &row.scene == &text ? "text.json" : "plane.json",
                      JsonRequestFields(), row.bounds);
            ADD_FAILURE() << "planned";
        } catch (const quib::Error& error) {
            EXPECT_EQ(std::string(error.what()).substr(0, row.message.size()), row.message);
        }
    }
}

}  // namespace
}  // namespace vantrel::test
