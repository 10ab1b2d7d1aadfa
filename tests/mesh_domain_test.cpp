// Renders over a model's UV texture: the surface point of each pixel centre against the model's own
// geometry worked out apart from the raster, the padding's values and the transparency past it, the
// same pixels on any number of threads and in any window, and hostile models refused where they fail.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "quib/error.h"
#include "scene/scene.h"
#include "tests/mesh_files.h"
#include "tests/scene_text.h"
#include "tools/render/render_core.h"

namespace vantrel::test {
namespace {

/// The image `request` renders, as reals, row by row.
class RowsKept : public BandSink {
public:
    RowsKept(int width, int height, int channels)
        : BandSink(width, height, channels, 4, 2, 64), values(std::size_t(width) * height * channels) {}
    void SetRow(int y, const double* row) override {
        std::copy(row, row + Width() * Channels(), values.begin() + std::ptrdiff_t(y) * Width() * Channels());
    }
    void Encode(int) override {}
    void Put(int) override {}
    std::vector<double> values;
};

/// A scene of the vector-to-colour node over the position, its domain `domain`, its files in `folder`.
Scene ColourScene(const std::string& domain, const std::filesystem::path& folder) {
    return SceneFromText(R"({ "format": "vantrel-scene/1", "output": "paint", "domain": )" + domain + R"(,
        "nodes": [ { "id": "paint", "type": "Vector to color",
                     "params": { "In": { "link": "@position" }, "Weights": [1, 1, 1, 0] } } ] })",
                         (folder / "scene.json").string());
}

/// What a model's texture should hold, worked out from its geometry: the point at the texture's place
/// (u, v) of the plane of the model's surface at the pixel centre (cu, cv), or nothing where the model
/// has no surface at that centre.
using Surface = std::optional<Vec3d> (*)(double cu, double cv, double u, double v);

/// The quad of the OBJ and glTF files: the texture's rectangle [1/8, 7/8] x [1/4, 3/4] laid on a plane
/// of the model by an affine map, so that any split of it into triangles gives the same points.
std::optional<Vec3d> Quad(double cu, double cv, double u, double v) {
    if (cu < 0.125 || cu > 0.875 || cv < 0.25 || cv > 0.75) return std::nullopt;
    return QuadPoint(u, v);
}

/// The built-in cube: six faces in a 3 x 2 grid of cells, each inset by a 32nd of its cell.
std::optional<Vec3d> Cube(double cu, double cv, double u, double v) {
    struct Frame {
        Vec3d normal, right, up;
    };
    static const Frame faces[] = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},  {{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}},
                                  {{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}}, {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},
                                  {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},  {{0, 0, -1}, {1, 0, 0}, {0, -1, 0}}};
    const int column = std::min(2, int(cu * 3)), row = std::min(1, int(cv * 2));
    const auto across = [&](double place, int cell, int cells) {
        return (place * cells - cell - 1.0 / 32) / (1 - 2.0 / 32);
    };
    const double cs = across(cu, column, 3), ct = across(cv, row, 2);
    if (cs < 0 || cs > 1 || ct < 0 || ct > 1) return std::nullopt;
    const Frame& f = faces[row * 3 + column];
    const double a = 2 * across(u, column, 3) - 1, b = 1 - 2 * across(v, row, 2);
    return Vec3d{f.normal.x + a * f.right.x + b * f.up.x, f.normal.y + a * f.right.y + b * f.up.y,
                 f.normal.z + a * f.right.z + b * f.up.z};
}

/// The pixel whose samples pixel (x, y) of a size x size texture takes: itself where `surface` has a
/// point at its centre, else the nearest such pixel within `padding` (of equals, the upper, then the
/// left one), found by looking at every pixel; nothing past the padding.
std::optional<std::pair<int, int>> SourceOf(Surface surface, int size, int padding, int x, int y) {
    const auto centre = [&](int i) { return (i + 0.5) / size; };
    const auto covered = [&](double cu, double cv) { return surface(cu, cv, cu, cv).has_value(); };
    if (covered(centre(x), centre(y))) return std::pair{x, y};
    std::optional<std::pair<int, int>> best;
    int bestDistance = padding * padding + 1;
    for (int j = 0; j < size; ++j) {
        for (int i = 0; i < size; ++i) {
            const int distance = (i - x) * (i - x) + (j - y) * (j - y);
            if (distance < bestDistance && covered(centre(i), centre(j))) {
                best = std::pair{i, j};
                bestDistance = distance;
            }
        }
    }
    return best;
}

class MeshDomain : public ::testing::Test {
protected:
    void SetUp() override { folder = WriteMeshFiles("mesh-domain"); }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::filesystem::path folder;
};

TEST_F(MeshDomain, PixelSamplesLieOnTheModelWhereTheirSourcePixelIs) {
    struct Case {
        const char* domain;
        Surface surface;
        int size;
        int samples;
    };
    const Case cases[] = {
        {R"({ "kind": "mesh", "file": "quad-one-way.obj", "padding": 3 })", Quad, 29, 1},
        {R"({ "kind": "mesh", "file": "quad-other-way.obj", "padding": 3 })", Quad, 29, 2},
        {R"({ "kind": "mesh", "file": "quad.gltf", "padding": 5 })", Quad, 23, 1},
        {R"({ "kind": "mesh", "shape": "cube", "padding": 2 })", Cube, 48, 1},
        {R"({ "kind": "mesh", "shape": "cube", "padding": 0 })", Cube, 61, 3},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(std::string(each.domain) + " at " + std::to_string(each.size));
        const Scene scene = ColourScene(each.domain, folder);
        const int n = each.samples;
        const RenderRequest request{scene.Output(), scene.Domain(),    each.size,
                                    each.size,      OutputType::Color, 1,
                                    each.samples,   nullptr,           {}};
        std::vector<double> positions(std::size_t(each.size) * each.size * n * n * 3);
        SamplePositions(request, positions.data());
        for (int y = 0; y < each.size; ++y) {
            for (int x = 0; x < each.size; ++x) {
                const auto source = SourceOf(each.surface, each.size, scene.Domain().padding, x, y);
                const double* at = &positions[(std::size_t(y) * each.size + x) * n * n * 3];
                for (int k = 0; k < n * n; ++k, at += 3) {
                    if (!source) {
                        ASSERT_TRUE(std::isnan(at[0])) << "pixel " << x << ", " << y << " past the padding";
                        continue;
                    }
                    // The sub-sample's place in the source pixel, on the plane of the surface there.
                    const double u = (source->first + (k % n + 0.5) / n) / each.size;
                    const double v = (source->second + (k / n + 0.5) / n) / each.size;
                    const Vec3d expected = *each.surface((source->first + 0.5) / each.size,
                                                         (source->second + 0.5) / each.size, u, v);
                    ASSERT_NEAR(at[0], expected.x, 1e-12) << "pixel " << x << ", " << y << " sample " << k;
                    ASSERT_NEAR(at[1], expected.y, 1e-12) << "pixel " << x << ", " << y << " sample " << k;
                    ASSERT_NEAR(at[2], expected.z, 1e-12) << "pixel " << x << ", " << y << " sample " << k;
                }
            }
        }
    }
}

TEST_F(MeshDomain, PaddingCopiesItsSourceAndPastItIsTransparentOnAnyThreadsAndWindow) {
    const Scene scene =
        ColourScene(R"({ "kind": "mesh", "file": "quad-one-way.obj", "padding": 4 })", folder);
    constexpr int size = 40;
    const auto render = [&](int threads, std::optional<PixelGrid> window, int width, int height) {
        RowsKept kept(width, height, 4);
        RenderRequest request{
            scene.Output(), scene.Domain(), width, height, OutputType::ColorA, threads, 2, nullptr, {},
            window};
        EXPECT_TRUE(Render(request, kept));
        return kept.values;
    };
    const std::vector<double> whole = render(1, std::nullopt, size, size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const auto source = SourceOf(Quad, size, 4, x, y);
            const double* pixel = &whole[(std::size_t(y) * size + x) * 4];
            if (!source) {
                EXPECT_EQ(std::vector<double>(pixel, pixel + 4), std::vector<double>(4, 0.0))
                    << x << ", " << y;
                continue;
            }
            const double* from = &whole[(std::size_t(source->second) * size + source->first) * 4];
            EXPECT_EQ(std::vector<double>(pixel, pixel + 4), std::vector<double>(from, from + 4))
                << x << ", " << y;
            EXPECT_EQ(pixel[3], 1.0);
        }
    }
    EXPECT_EQ(render(3, std::nullopt, size, size), whole);
    // A window whose padding pixels take their samples from pixels outside it.
    const PixelGrid window{size, size, 1, 7};
    const std::vector<double> part = render(2, window, 12, 9);
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 12; ++x) {
            for (int c = 0; c < 4; ++c) {
                ASSERT_EQ(part[(std::size_t(y) * 12 + x) * 4 + c],
                          whole[(std::size_t(y + 7) * size + x + 1) * 4 + c]);
            }
        }
    }
}

TEST_F(MeshDomain, HostileModelsAreRefusedWhereTheyFail) {
    struct Case {
        const char* domain;
        const char* message;  ///< after the model's file name
    };
    const Case cases[] = {
        {R"({ "kind": "mesh", "file": "index-out.obj" })",
         ": line 6, column 1: expected position indices from 1 to 4, not 5"},
        {R"({ "kind": "mesh", "file": "no-uv.obj" })",
         ": line 5, column 1: expected texture places (vt) for every corner, of which the file has none, not "
         "a corner without"},
        {R"({ "kind": "mesh", "file": "infinite.obj" })",
         ": line 2, column 1: expected a position of three finite numbers, not inf"},
        {R"({ "kind": "mesh", "file": "flat.obj" })",
         ": expected a model with at least one triangle of some area, not 2 without area"},
        {R"({ "kind": "mesh", "file": "quad-one-way.obj", "uv": 1 })",
         ": expected UV set 0: an OBJ file has one set of texture places, not 1"},
        {R"({ "kind": "mesh", "file": "missing.obj" })", ": cannot read the file: No such file or directory"},
        {R"({ "kind": "mesh", "file": "model.stl" })",
         ": expected a model file named .obj, .gltf or .glb, not"},
        {R"({ "kind": "mesh", "file": "malformed.gltf" })",
         ": expected a glTF model, not a file tinygltf cannot read"},
        {R"({ "kind": "mesh", "file": "nan.gltf" })",
         ": /accessors/0: expected finite positions, not a position of element 2"},
        {R"({ "kind": "mesh", "file": "index-out.gltf" })",
         ": /accessors/2: expected indices below 4, the primitive's vertices, not 7 at element 5"},
        {R"({ "kind": "mesh", "file": "short.gltf" })",
         ": /accessors/1: expected elements that lie within their buffer view and buffer, not some past "
         "their end"},
        {R"({ "kind": "mesh", "file": "inner/climb.gltf" })", "\" lies outside the model's folder)"},
        {R"({ "kind": "mesh", "file": "quad.gltf", "uv": 1 })",
         ": /meshes/0/primitives/0/attributes: expected the attribute \"TEXCOORD_1\" (the texture places of "
         "UV set 1)"},
    };
    // A triangle of no area among others is left out, and counted.
    EXPECT_EQ(ColourScene(R"({ "kind": "mesh", "file": "one-flat.obj" })", folder).Domain().mesh->skipped, 1);
    for (const Case& each : cases) {
        SCOPED_TRACE(each.domain);
        try {
            ColourScene(each.domain, folder);
            ADD_FAILURE() << "loaded";
        } catch (const quib::Error& error) {
            const std::string said = error.what();
            EXPECT_EQ(said.rfind((folder / "").string(), 0), 0u) << said;  // the model's file, where it is
            EXPECT_NE(said.find(each.message), std::string::npos) << said;
        }
    }
}

TEST_F(MeshDomain, ATexturesRowsHoldBoundedListsOfTriangles) {
    // Long thin triangles from top to bottom, each listed in every band of rows of a tall texture.
    const Scene scene = ColourScene(R"({ "kind": "mesh", "file": "tall.obj" })", folder);
    RowsKept kept(1, 65536, 3);
    try {
        Render({scene.Output(), scene.Domain(), 1, 65536, OutputType::Color, 1, 1, nullptr, {}}, kept);
        ADD_FAILURE() << "rendered";
    } catch (const quib::Error& error) {
        EXPECT_NE(std::string(error.what()).find("too many rows"), std::string::npos) << error.what();
    }
    EXPECT_EQ(scene.Domain().mesh->triangles.size(), 65536u);
}

}  // namespace
}  // namespace vantrel::test
