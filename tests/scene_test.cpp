// Scenes in the host runtime: the sample domains, nodes created and linked through the real module,
// the update order, and every example scene of the project.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>

#include "host/curve_holder.h"
#include "host/param.h"
#include "quib/module_loader.h"
#include "scene/scene.h"
#include "scene/scene_format.h"
#include "tests/scene_text.h"

namespace {

using vantrel::test::SceneFromText;
using vantrel::test::TheModule;
using vantrel::test::TheModules;

using vantrel::SampleDomain;
using vantrel::Scene;

struct ImagePoint {
    double u, v;
    Vec3d expected;
};

TEST(SampleDomain, PlaneRunsLeftToRightAndTopToBottom) {
    SampleDomain plane;
    plane.min = {-2.0, -1.0};
    plane.max = {6.0, 3.0};
    const ImagePoint points[] = {
        {0.0, 0.0, {-2.0, 3.0, 0.0}},   // top left
        {1.0, 0.0, {6.0, 3.0, 0.0}},    // top right
        {0.0, 1.0, {-2.0, -1.0, 0.0}},  // bottom left
        {0.5, 0.5, {2.0, 1.0, 0.0}},    // centre
        {0.25, 0.75, {0.0, 0.0, 0.0}},  // origin
    };
    for (const ImagePoint& point : points) {
        const Vec3d p = plane.Position(point.u, point.v);
        EXPECT_EQ(p.x, point.expected.x) << point.u << " " << point.v;
        EXPECT_EQ(p.y, point.expected.y) << point.u << " " << point.v;
        EXPECT_EQ(p.z, 0.0);
    }
}

TEST(SampleDomain, SphereIsEquirectangularWithZUp) {
    SampleDomain sphere;
    sphere.kind = SampleDomain::Kind::Sphere;
    const ImagePoint points[] = {
        {0.5, 0.5, {1.0, 0.0, 0.0}},    // longitude 0 on the equator, in the middle of the image
        {0.75, 0.5, {0.0, 1.0, 0.0}},   // longitude +90 degrees
        {0.25, 0.5, {0.0, -1.0, 0.0}},  // longitude -90 degrees
        {0.0, 0.5, {-1.0, 0.0, 0.0}},   // longitude -180 degrees at the left edge
        {0.3, 0.0, {0.0, 0.0, 1.0}},    // the north pole along the top
        {0.7, 1.0, {0.0, 0.0, -1.0}},   // the south pole along the bottom
    };
    constexpr double tolerance = 1e-15;
    for (const ImagePoint& point : points) {
        const Vec3d p = sphere.Position(point.u, point.v);
        EXPECT_NEAR(p.x, point.expected.x, tolerance) << point.u << " " << point.v;
        EXPECT_NEAR(p.y, point.expected.y, tolerance) << point.u << " " << point.v;
        EXPECT_NEAR(p.z, point.expected.z, tolerance) << point.u << " " << point.v;
    }
    // Every sample is a unit direction.
    for (int i = 0; i <= 16; ++i) {
        for (int j = 0; j <= 8; ++j)
            EXPECT_NEAR(sphere.Position(i / 16.0, j / 8.0).Length(), 1.0, tolerance);
    }
}

TEST(SampleDomain, HeightKeepsPixelsSquare) {
    SampleDomain plane;
    plane.min = {-4.0, -1.0};
    plane.max = {4.0, 3.0};
    EXPECT_EQ(plane.HeightFor(512), 256);
    EXPECT_EQ(plane.HeightFor(1), 1);  // never below one row
    SampleDomain sphere;
    sphere.kind = SampleDomain::Kind::Sphere;
    EXPECT_EQ(sphere.HeightFor(300), 150);
}

TEST(Scene, CreatesLinksAndKeepsTheDomain) {
    // "paint" reads "lattice", which comes later in the file; "paint" is named by its class id.
    const Scene scene = SceneFromText(R"~({
        "format": "vantrel-scene/1",
        "nodes": [
            { "id": "paint", "type": "0x92512343", "params": { "In": { "link": "lattice" } } },
            { "id": "lattice", "type": "Hexagonal lattice 3D(1)",
              "params": { "Position": { "link": "@position" } } }
        ],
        "output": "paint",
        "domain": { "kind": "plane", "min": [-3, -2], "max": [5, 2] }
    })~",
                                      "graph.json");
    Function* paint = scene.Node("paint");
    Function* lattice = scene.Node("lattice");
    ASSERT_NE(paint, nullptr);
    ASSERT_NE(lattice, nullptr);
    EXPECT_EQ(scene.Node("nothing"), nullptr);
    EXPECT_EQ(&scene.Output(), paint);
    EXPECT_EQ(paint->ClassID(), 0x92512343u);
    EXPECT_EQ(lattice->ClassID(), 0x92512342u);
    EXPECT_EQ(paint->FindParam("In")->LinkedNode(), lattice);
    EXPECT_EQ(lattice->FindParam("Position")->Kind(), Param::Source::Position);
    EXPECT_EQ(scene.Domain().kind, SampleDomain::Kind::Plane);
    EXPECT_EQ(scene.Domain().min.x, -3.0);
    EXPECT_EQ(scene.Domain().max.y, 2.0);
}

TEST(Scene, WithoutDomainSamplesTheUnitSquare) {
    const Scene scene = SceneFromText(
        R"~({ "format": "vantrel-scene/1", "nodes": [ { "id": "a", "type": "Curve3" } ], "output": "a" })~",
        "plain.json");
    EXPECT_EQ(scene.Domain().kind, SampleDomain::Kind::Plane);
    EXPECT_EQ(scene.Domain().Position(0.0, 1.0).x, 0.0);
    EXPECT_EQ(scene.Domain().Position(1.0, 0.0).y, 1.0);
}

/// A lattice node's Update caches "Subdivision", here read through a link from another lattice node,
/// whose own value depends on the mode its Update caches. Only when the source is brought up to date
/// first does the reader cache the source's plane-mode value; the file lists the reader first.
TEST(Scene, UpdatesSourcesBeforeTheNodesThatReadThem) {
    const std::string scene = R"~({
        "format": "vantrel-scene/1",
        "nodes": [
            { "id": "reader", "type": "Hexagonal lattice 3D(1)",
              "params": { "Position": { "link": "@position" }, "Subdivision": SUBDIVISION } },
            { "id": "source", "type": "Hexagonal lattice 3D(1)",
              "params": { "Position": [0.3, 0.2, 0.1], "(2=plane, 3=sphere)(how to make list box]": 2 },
              "curves": { "W1": [[0, 0], [0.5773502691896258, 40]] } }
        ],
        "output": "reader"
    })~";
    auto withSubdivision = [&](const std::string& subdivision) {
        std::string text = scene;
        text.replace(text.find("SUBDIVISION"), 11, subdivision);
        return SceneFromText(text, "order.json");
    };
    const Scene linked = withSubdivision(R"~({ "link": "source" })~");
    FunContext origin;
    int planeValue = 0;  // the source's int output once its plane mode is cached
    linked.Node("source")->Eval(&planeValue, &origin);
    std::unique_ptr<Function> fresh = TheModule()->Find("Hexagonal lattice 3D(1)")->Create();
    fresh->FindParam("Position")->SetConstant({0.3, 0.2, 0.1, 0.0});
    fresh->Curves()[0]->SetPoints(0, {{0.0, 0.0}, {0.5773502691896258, 40.0}});
    int sphereValue = 0;  // the same node before its Update: sphere mode
    fresh->Eval(&sphereValue, &origin);
    ASSERT_NE(planeValue, sphereValue) << "the test needs the two modes to differ";

    const Scene expected = withSubdivision(std::to_string(planeValue));
    const Scene wrong = withSubdivision(std::to_string(sphereValue));
    int differences = 0;
    for (int i = 0; i < 64; ++i) {
        FunContext context{{std::cos(i * 0.7) * 3.0, std::sin(i * 1.3) * 2.0, std::cos(i * 0.3)}};
        Vec3d got, want, other;
        linked.Output().Eval(&got, &context);
        expected.Output().Eval(&want, &context);
        wrong.Output().Eval(&other, &context);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.z, want.z);
        differences += other.x != want.x || other.y != want.y || other.z != want.z;
    }
    EXPECT_GT(differences, 0) << "the two subdivisions should give different lattices";
}

/// Every example of the project loads, and its output answers at the domain's centre.
TEST(Scene, EveryExampleLoads) {
    int examples = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VANTREL_EXAMPLES_DIR)) {
        if (entry.path().extension() != ".json") continue;
        SCOPED_TRACE(entry.path().string());
        ++examples;
        const Scene scene = Scene::FromFile(entry.path().string(), TheModules());
        FunContext centre{scene.Domain().Position(0.5, 0.5)};
        std::string text;
        scene.Output().Eval(&text, &centre);
        EXPECT_FALSE(text.empty());
    }
    EXPECT_GE(examples, 8);
}

}  // namespace
