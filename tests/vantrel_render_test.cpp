// `vantrel render` run as a user runs it: the files decode with libpng and OpenEXR, pixels hold what
// `eval` gives at their centres, thread counts change nothing, and failures leave old files alone.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <ImfChannelList.h>
#include <ImfChromaticities.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfStandardAttributes.h>

#include "quib/module_loader.h"
#include "scene/scene.h"
#include "tests/exr_image.h"
#include "tests/loaded_module.h"
#include "tests/png_image.h"
#include "tests/vantrel_run.h"

namespace vantrel::test {
namespace {

/// A real as the level PNG stores: clamped to 0..1, through the sRGB transfer function where `srgb`
/// (here by std::pow, as the standard writes it), and rounded to the nearest of 2^depth levels.
double Level(double value, int depth, bool srgb = false) {
    const double steps = depth == 16 ? 65535.0 : 255.0;
    double v = value >= 0.0 ? std::min(value, 1.0) : 0.0;
    if (srgb) v = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
    return std::floor(v * steps + 0.5);
}

// A hexagonal lattice on the plane coloured by vector to color: flat cells of varied colours.
const char* const cellsScene = R"~({ "format": "vantrel-scene/1", "output": "paint",
    "nodes": [ { "id": "lattice", "type": "Hexagonal lattice 3D(1)",
                 "params": { "Position": { "link": "@position" }, "(2=plane, 3=sphere)(how to make list box]": 2 },
                 "curves": { "W1": [[0, 1]], "W2": [[0, 0]], "W3": [[0, 0]] } },
               { "id": "paint", "type": "Vector to color",
                 "params": { "In": { "link": "lattice" }, "Weights": [1, 1, 0, 0] },
                 "gradients": { "X color": [[-3, [0, 0, 1]], [3, [1, 0.5, 0]]],
                                "Y color": [[-2, [0, 1, 0]], [2, [1, 0, 1]]] } } ],
    "domain": { "kind": "plane", "min": [-3, -1.5], "max": [3, 1.5] } })~";

// W distortion of the position: colour (x, y, D) and colour with alpha (x, y, z, D), unclamped.
const char* const rampScene = R"~({ "format": "vantrel-scene/1", "output": "w",
    "nodes": [ { "id": "w", "type": "W Distortion",
                 "params": { "Position": { "link": "@position" }, "Distortion": 0.25 } } ],
    "domain": { "kind": "plane", "min": [-0.5, -1], "max": [1.5, 2] } })~";

// The hexagonal lattice on the sphere, as its corners' blend.
const char* const globeScene = R"~({ "format": "vantrel-scene/1", "output": "lattice",
    "nodes": [ { "id": "lattice", "type": "Hexagonal lattice 3D(1)",
                 "params": { "Position": { "link": "@position" }, "Subdivision": 3 } } ],
    "domain": { "kind": "sphere" } })~";

class Render : public VantrelTest {
protected:
    /// The components `eval --type` gives at every pixel centre of a width x height image of the scene,
    /// or with `samples` N, at the centres of each pixel's N x N cells: pixel by pixel, each pixel's
    /// from the top left, row by row.
    std::vector<std::vector<double>> EvalAtCentres(const std::string& scene, int width, int height,
                                                   const std::string& type, int samples = 1) {
        const SampleDomain domain = Scene::FromFile((work / scene).string(), TheModules()).Domain();
        std::string input;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                for (int sy = 0; sy < samples; ++sy) {
                    for (int sx = 0; sx < samples; ++sx) {
                        const double cell = 1.0 / samples;
                        const Vec3d p = domain.Position((x + (sx + 0.5) * cell) / width,
                                                        (y + (sy + 0.5) * cell) / height);
                        char line[100];
                        std::snprintf(line, sizeof line, "%.17g %.17g %.17g\n", p.x, p.y, p.z);
                        input += line;
                    }
                }
            }
        }
        const RunResult run = Vantrel({"eval", scene, "--type", type}, input);
        EXPECT_EQ(run.status, 0) << run.err;
        std::vector<std::vector<double>> values;
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::vector<double> components;
            for (std::string word; words >> word;)
                components.push_back(std::strtod(word.c_str(), nullptr));
            values.push_back(components);
        }
        EXPECT_EQ(values.size(), static_cast<std::size_t>(width) * height * samples * samples);
        return values;
    }

    RunResult RenderTo(const std::string& scene, const std::string& output,
                       std::vector<std::string> options = {}) {
        std::vector<std::string> arguments = {"render", scene, "-o", output};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return Vantrel(arguments);
    }
};

TEST_F(Render, PngPixelsHoldWhatEvalGivesAtTheirCentres) {
    Write("cells.json", cellsScene);
    // 21 rows: bands of rows compressed apart and joined, the last one short.
    const auto values = EvalAtCentres("cells.json", 12, 21, "color");
    for (int depth : {8, 16}) {
        SCOPED_TRACE(depth);
        const RunResult run =
            RenderTo("cells.json", "cells.png", {"--size", "12x21", "--depth", std::to_string(depth)});
        ASSERT_EQ(run.status, 0) << run.err;
        const Decoded image = ReadPng(work / "cells.png");
        ASSERT_EQ(image.width, 12);
        ASSERT_EQ(image.height, 21);
        ASSERT_EQ(image.channels, 3);
        ASSERT_EQ(image.depth, depth);
        for (int y = 0; y < 21; ++y) {
            for (int x = 0; x < 12; ++x) {
                for (int c = 0; c < 3; ++c) {
                    EXPECT_NEAR(image.At(x, y, c), Level(values[y * 12 + x][c], depth, true), 1)
                        << x << "," << y << "," << c;
                }
            }
        }
    }
}

// Tall images go to the file a band at a time: six bands of PNG rows (some flat enough to be deflated
// again as one stream with their neighbours), six of OpenEXR blocks with the last block short; each
// pixel holds what eval gives at its centre, whatever thread rendered it.
TEST_F(Render, StreamedFilesHoldWhatEvalGivesInEveryBand) {
    Write("cells.json", cellsScene);
    Write("globe.json", globeScene);
    const int width = 40;
    const int height = 3001;
    for (const char* scene : {"cells.json", "globe.json"}) {
        SCOPED_TRACE(scene);
        const auto values = EvalAtCentres(scene, width, height, "color");
        for (const char* name : {"tall.png", "tall.exr"}) {
            SCOPED_TRACE(name);
            const RunResult run = RenderTo(scene, name, {"--size", "40x3001", "--threads", "3"});
            ASSERT_EQ(run.status, 0) << run.err;
            const bool png = std::string(name) == "tall.png";
            const Decoded image = png ? ReadPng(work / name) : ReadExr(work / name);
            ASSERT_EQ(image.width, width);
            ASSERT_EQ(image.height, height);
            ASSERT_EQ(image.channels, 3);
            int wrong = 0;
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    for (int c = 0; c < 3; ++c) {
                        const double value = values[static_cast<std::size_t>(y) * width + x][c];
                        const double expected = png ? Level(value, 8, true) : static_cast<float>(value);
                        if (std::abs(image.At(x, y, c) - expected) > (png ? 1 : 0) && ++wrong <= 5)
                            ADD_FAILURE() << x << "," << y << "," << c << ": " << image.At(x, y, c) << " for "
                                          << expected;
                    }
                }
            }
            EXPECT_EQ(wrong, 0);
        }
    }
}

TEST_F(Render, ExrHoldsUnclampedFloats) {
    Write("ramp.json", rampScene);
    Write("globe.json", globeScene);
    struct Case {
        const char* scene;
        const char* type;
        int channels;
    };
    for (const Case& each : {Case{"ramp.json", "color", 3}, Case{"ramp.json", "colora", 4},
                             Case{"globe.json", "vec3", 3}, Case{"globe.json", "double", 1}}) {
        SCOPED_TRACE(std::string(each.scene) + " " + each.type);
        const auto values = EvalAtCentres(each.scene, 10, 6, each.type);
        const RunResult run = RenderTo(each.scene, "out.exr", {"--size", "10x6", "--type", each.type});
        ASSERT_EQ(run.status, 0) << run.err;
        const Decoded image = ReadExr(work / "out.exr");
        ASSERT_EQ(image.width, 10);
        ASSERT_EQ(image.height, 6);
        ASSERT_EQ(image.channels, each.channels);
        bool outside = false;  // some value outside 0..1 shows that nothing was clamped
        for (int y = 0; y < 6; ++y) {
            for (int x = 0; x < 10; ++x) {
                for (int c = 0; c < each.channels; ++c) {
                    const double value = values[y * 10 + x][c];
                    outside |= value < 0.0 || value > 1.0;
                    EXPECT_EQ(image.At(x, y, c), static_cast<float>(value)) << x << "," << y << "," << c;
                }
            }
        }
        EXPECT_TRUE(outside);
    }
}

// What each PNG holds and says of itself. Colour goes through the sRGB transfer function (alpha
// not) and is tagged sRGB, with the gamma and primaries that stand for it beside; --linear keeps the
// values raw and says so by a gamma of 1; data is raw and tagged as no colour at all. Primaries are
// those of Rec. 709 and sRGB, white D65, as the OpenEXR of the same render says.
TEST_F(Render, OutputTypeChoosesThePngChannelsAndLevels) {
    Write("ramp.json", rampScene);
    // White, red, green, blue: x then y.
    const double primaries[8] = {0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
    enum Tag { None, Srgb, Linear };
    struct Case {
        const char* type;
        int depth;
        bool linear;
        int channels;
        int encoded;  ///< channels through the transfer function
        Tag tag;
    };
    for (const Case& each : {Case{"double", 8, false, 1, 0, None}, Case{"int", 16, false, 1, 0, None},
                             Case{"vec2", 8, false, 3, 0, None}, Case{"quaternion", 8, false, 4, 0, None},
                             Case{"color", 8, false, 3, 3, Srgb}, Case{"colora", 16, false, 4, 3, Srgb},
                             Case{"color", 16, true, 3, 0, Linear}, Case{"double", 8, true, 1, 0, Linear}}) {
        SCOPED_TRACE(std::string(each.type) + " at " + std::to_string(each.depth) +
                     (each.linear ? " bits, linear" : " bits"));
        const auto values = EvalAtCentres("ramp.json", 4, 19, each.type);
        std::vector<std::string> options = {"--size",  "4x19",    "--type",
                                            each.type, "--depth", std::to_string(each.depth)};
        if (each.linear) options.push_back("--linear");
        const RunResult run = RenderTo("ramp.json", "ramp.png", options);
        ASSERT_EQ(run.status, 0) << run.err;
        const Decoded image = ReadPng(work / "ramp.png");
        ASSERT_EQ(image.channels, each.channels);
        ASSERT_EQ(image.depth, each.depth);
        for (int y = 0; y < 19; ++y) {
            for (int x = 0; x < 4; ++x) {
                const std::vector<double>& value = values[y * 4 + x];
                for (int c = 0; c < each.channels; ++c) {
                    // A pair is red and green, with blue 0.
                    const double v = c < static_cast<int>(value.size()) ? value[c] : 0.0;
                    const bool encoded = c < each.encoded;
                    EXPECT_NEAR(image.At(x, y, c), Level(v, each.depth, encoded), encoded ? 1 : 0)
                        << x << "," << y << "," << c;
                }
            }
        }
        const PngColour colour = ReadPngColour((work / "ramp.png").c_str());
        ASSERT_TRUE(colour.read);
        EXPECT_EQ(colour.hasSrgb, each.tag == Srgb);
        EXPECT_FALSE(colour.hasIccProfile);
        EXPECT_EQ(colour.hasGamma, each.tag != None);
        EXPECT_EQ(colour.gamma, each.tag == Srgb ? 45455 : each.tag == Linear ? 100000 : 0);
        EXPECT_EQ(colour.hasChromaticities, each.tag != None);
        for (int i = 0; i < 8 && colour.hasChromaticities; ++i)
            EXPECT_EQ(colour.chromaticities[i], std::lround(primaries[i] * 100000)) << i;
    }

    // OpenEXR holds linear values whatever the type, and says so by its primaries alone.
    for (const char* type : {"double", "color"}) {
        ASSERT_EQ(RenderTo("ramp.json", "ramp.exr", {"--size", "9x5", "--type", type}).status, 0);
        const Imf::InputFile file((work / "ramp.exr").c_str());
        ASSERT_TRUE(Imf::hasChromaticities(file.header()));
        const Imf::Chromaticities& c = Imf::chromaticities(file.header());
        const Imath::V2f read[4] = {c.white, c.red, c.green, c.blue};
        for (int i = 0; i < 4; ++i) {
            EXPECT_FLOAT_EQ(read[i].x, primaries[2 * i]) << i;
            EXPECT_FLOAT_EQ(read[i].y, primaries[2 * i + 1]) << i;
        }
    }
    const RunResult refused = RenderTo("ramp.json", "ramp.exr", {"--size", "9x5", "--linear"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("--linear"), std::string::npos) << refused.err;
}

// --samples N: each pixel the mean of the values at the centres of its N x N cells, for real values of
// one to four components on the plane and the sphere, unclamped in OpenEXR. The report counts them all.
TEST_F(Render, SamplesAverageTheCentresOfEachPixelsCells) {
    Write("cells.json", cellsScene);
    Write("globe.json", globeScene);
    struct Case {
        const char* scene;
        const char* type;
        int samples;
    };
    for (const Case& each : {Case{"cells.json", "color", 2}, Case{"cells.json", "double", 3},
                             Case{"globe.json", "vec3", 4}, Case{"globe.json", "colora", 3}}) {
        SCOPED_TRACE(std::string(each.scene) + " " + each.type + " " + std::to_string(each.samples));
        const int width = 9, height = 7, n = each.samples;
        const auto values = EvalAtCentres(each.scene, width, height, each.type, n);
        const RunResult run = RenderTo(
            each.scene, "mean.exr", {"--size", "9x7", "--type", each.type, "--samples", std::to_string(n)});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("9x7, " + std::to_string(width * height * n * n) + " samples in "),
                  std::string::npos)
            << run.out;
        const Decoded image = ReadExr(work / "mean.exr");
        ASSERT_EQ(image.width, width);
        ASSERT_EQ(image.height, height);
        bool varied = false;  // some pixel whose cells differ, so that the mean is no single sample's
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const auto cells = values.begin() + (y * width + x) * n * n;
                for (int c = 0; c < image.channels; ++c) {
                    double sum = 0.0;
                    for (int i = 0; i < n * n; ++i) {
                        sum += cells[i][c];
                        varied |= cells[i][c] != cells[0][c];
                    }
                    EXPECT_FLOAT_EQ(image.At(x, y, c), sum / (n * n)) << x << "," << y << "," << c;
                }
            }
        }
        EXPECT_TRUE(varied);
    }
}

// Several bands of rows in both formats, the last shorter than the others; with one sample a pixel and
// with several. One sample a pixel, asked for, is the render without --samples.
TEST_F(Render, ThreadCountChangesNoByte) {
    Write("globe.json", globeScene);
    for (const char* name : {"globe.png", "globe.exr"}) {
        for (const char* samples : {"1", "2"}) {
            SCOPED_TRACE(std::string(name) + " --samples " + samples);
            std::string first;
            for (const char* threads : {"1", "2", "3"}) {
                const RunResult run = RenderTo(
                    "globe.json", name, {"--size", "400x600", "--threads", threads, "--samples", samples});
                ASSERT_EQ(run.status, 0) << run.err;
                EXPECT_NE(run.out.find(std::string("on ") + threads + " thread"), std::string::npos)
                    << run.out;
                const std::string bytes = ReadFile(work / name);
                if (first.empty()) first = bytes;
                EXPECT_TRUE(bytes == first) << threads << " threads gave other bytes";
            }
        }
        ASSERT_EQ(RenderTo("globe.json", name, {"--size", "400x600", "--samples", "1"}).status, 0);
        const std::string one = ReadFile(work / name);
        ASSERT_EQ(RenderTo("globe.json", name, {"--size", "400x600"}).status, 0);
        EXPECT_TRUE(ReadFile(work / name) == one) << "--samples 1 gave other bytes than no --samples";
    }
}

/// A PNG's sizes: of the whole file, of its IDAT chunks with their framing, and of the zlib stream
/// they hold once inflated (the filtered rows).
struct PngParts {
    std::size_t fileBytes = 0;
    std::size_t idatBytes = 0;
    std::string filtered;
};

std::uint32_t BigEndianAt(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = at; i < at + 4; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
}

PngParts ReadPngParts(const std::filesystem::path& path) {
    const std::string file = ReadFile(path);
    PngParts parts;
    parts.fileBytes = file.size();
    std::string stream;
    std::uint32_t width = 0, height = 0;
    int bits = 0, channels = 0;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::uint32_t length = BigEndianAt(file, at);
        const std::string type = file.substr(at + 4, 4);
        if (type == "IHDR") {
            width = BigEndianAt(file, at + 8);
            height = BigEndianAt(file, at + 12);
            bits = static_cast<unsigned char>(file[at + 16]);
            const int colorType = static_cast<unsigned char>(file[at + 17]);
            channels = colorType == 0 ? 1 : colorType == 2 ? 3 : 4;
        }
        if (type == "IDAT") {
            stream += file.substr(at + 8, length);
            parts.idatBytes += length + 12;
        }
        at += length + 12;
    }
    uLongf size = static_cast<uLongf>(height) * (width * channels * bits / 8 + 1);
    parts.filtered.resize(size);
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(parts.filtered.data()), &size,
                         reinterpret_cast<const Bytef*>(stream.data()), stream.size()),
              Z_OK)
        << path;
    EXPECT_EQ(size, parts.filtered.size()) << path;
    return parts;
}

// Each file against the same file with its filtered rows deflated by zlib as one stream at the default
// level, in one IDAT chunk: at most 2 % larger, for every example at sizes of one band and of many.
TEST_F(Render, PngIsAboutAsSmallAsOneStreamOfItsRows) {
    for (const auto& entry : std::filesystem::directory_iterator(VANTREL_EXAMPLES_DIR)) {
        if (entry.path().extension() != ".json") continue;
        for (const char* size : {"256x128", "512x256", "1024x512", "1000x999"}) {
            SCOPED_TRACE(entry.path().filename().string() + " at " + size);
            const RunResult run =
                RenderTo(entry.path().string(), "out.png", {"--size", size, "--threads", "2"});
            ASSERT_EQ(run.status, 0) << run.err;
            const PngParts parts = ReadPngParts(work / "out.png");
            uLongf single = compressBound(parts.filtered.size());
            std::string deflated(single, '\0');
            ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(deflated.data()), &single,
                                reinterpret_cast<const Bytef*>(parts.filtered.data()), parts.filtered.size(),
                                Z_DEFAULT_COMPRESSION),
                      Z_OK);
            const std::size_t oneStreamFile = parts.fileBytes - parts.idatBytes + single + 12;
            EXPECT_LE(parts.fileBytes * 100, oneStreamFile * 102)
                << parts.fileBytes << " bytes against " << oneStreamFile << " with one stream";
        }
    }
}

TEST_F(Render, DefaultsToThePngOfTheSceneNameSizedByTheDomain) {
    Write("globe.json", globeScene);
    Write("cells.json", cellsScene);
    for (const char* scene : {"globe", "cells"}) {
        const RunResult run = Vantrel({"render", std::string(scene) + ".json"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("512x256, 131072 samples in "), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(" samples/s on "), std::string::npos) << run.out;
        const Decoded image = ReadPng(work / (std::string(scene) + ".png"));
        EXPECT_EQ(image.width, 512);
        EXPECT_EQ(image.height, 256);  // the sphere and the 6 x 3 rectangle are both twice as wide as high
    }
}

/// --region over the examples' domains: the image's default size, and whether an explicit --size is
/// said to stretch it.
struct RegionCase {
    const char* scene;
    std::vector<std::string> options;
    int width;
    int height;
    bool stretched;
};

TEST_F(Render, RegionSetsTheShapeAndAnOtherSizeIsSaid) {
    Write("globe.json", globeScene);
    Write("cells.json", cellsScene);
    const RegionCase cases[] = {
        {"cells.json", {}, 512, 256, false},
        {"cells.json", {"--size", "512x256"}, 512, 256, false},
        {"cells.json", {"--size", "300"}, 300, 150, false},
        {"cells.json", {"--region=0,0,1,2", "--size", "7"}, 7, 14, false},
        {"globe.json", {"--size", "1"}, 1, 1, false},
        {"cells.json", {"--size", "20x20"}, 20, 20, true},
        {"cells.json", {"--region=-1,0,2,1.5"}, 512, 256, false},
        {"cells.json", {"--region=0,0,1,2"}, 512, 1024, false},
        {"cells.json", {"--region=0,0,1,2", "--size", "10x20"}, 10, 20, false},
        {"cells.json", {"--region=0,0,1,2", "--size", "20x10"}, 20, 10, true},
        {"globe.json", {"--region", "-90,0,0,45"}, 512, 256, false},
        {"globe.json", {"--region=-180,-90,180,90"}, 512, 256, false},
        {"globe.json", {"--region=0,-90,90,90"}, 512, 1024, false},
        {"globe.json", {"--size", "64x64"}, 64, 64, true},
        {"globe.json", {"--region=0,-90,90,90", "--size", "64x128"}, 64, 128, false},
    };
    for (const RegionCase& each : cases) {
        std::string said = each.scene;
        for (const std::string& option : each.options)
            said += " " + option;
        SCOPED_TRACE(said);
        const RunResult run = RenderTo(each.scene, "region.png", each.options);
        ASSERT_EQ(run.status, 0) << run.err;
        const Decoded image = ReadPng(work / "region.png");
        EXPECT_EQ(image.width, each.width);
        EXPECT_EQ(image.height, each.height);
        EXPECT_EQ(run.err.find("pixels are not square") != std::string::npos, each.stretched) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), each.stretched ? 1 : 0) << run.err;
    }
}

TEST_F(Render, PlaneRegionIsTheSceneWithThatRectangle) {
    Write("cells.json", cellsScene);
    std::string narrowed = cellsScene;
    const std::string domain = R"("min": [-3, -1.5], "max": [3, 1.5])";
    narrowed.replace(narrowed.find(domain), domain.size(), R"("min": [-1, 0.25], "max": [2.5, 1.5])");
    Write("narrowed.json", narrowed);
    for (const char* name : {"a.exr", "a.png"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(RenderTo("cells.json", name, {"--region=-1,0.25,2.5,1.5", "--size", "14x5"}).status, 0);
        const std::string region = ReadFile(work / name);
        ASSERT_EQ(RenderTo("narrowed.json", name, {"--size", "14x5"}).status, 0);
        EXPECT_TRUE(region == ReadFile(work / name)) << "the region gave other bytes";
    }
}

TEST_F(Render, SphereRegionSamplesItsLongitudesAndLatitudes) {
    Write("globe.json", globeScene);
    const int width = 8;
    const int height = 6;
    ASSERT_EQ(RenderTo("globe.json", "window.exr", {"--region", "-90,10,0,45", "--size", "8x6"}).status, 0);
    const Decoded image = ReadExr(work / "window.exr");
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    // Pixel centres: longitudes -90 to 0 from the left, latitudes 45 down to 10 from the top, in degrees.
    std::string input;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double longitude = (-90.0 + 90.0 * (x + 0.5) / width) * std::numbers::pi / 180.0;
            const double latitude = (45.0 - 35.0 * (y + 0.5) / height) * std::numbers::pi / 180.0;
            char line[100];
            std::snprintf(line, sizeof line, "%.17g %.17g %.17g\n", std::cos(latitude) * std::cos(longitude),
                          std::cos(latitude) * std::sin(longitude), std::sin(latitude));
            input += line;
        }
    }
    const RunResult eval = Vantrel({"eval", "globe.json"}, input);
    ASSERT_EQ(eval.status, 0) << eval.err;
    std::istringstream values(eval.out);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < image.channels; ++c) {
                double value = 0.0;
                values >> value;
                EXPECT_NEAR(image.At(x, y, c), value, 1e-6) << x << "," << y << "," << c;
            }
        }
    }
}

/// A render holds the rows in flight, not the image: eight times the rows take no more memory, in
/// either format, while their pixels would take 16 MiB more as 8-bit RGB and 63 MiB as floats.
TEST_F(Render, MemoryDoesNotGrowWithTheRows) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's shadow and quarantine make resident memory no measure";
#endif
    Write("ramp.json", rampScene);
    for (const char* name : {"ramp.png", "ramp.exr"}) {
        SCOPED_TRACE(name);
        const RunResult few = RenderTo("ramp.json", name, {"--size", "2048x384"});
        ASSERT_EQ(few.status, 0) << few.err;
        const RunResult many = RenderTo("ramp.json", name, {"--size", "2048x3072"});
        ASSERT_EQ(many.status, 0) << many.err;
        EXPECT_LT(many.peakKiB - few.peakKiB, 4 * 1024)
            << many.peakKiB << " KiB resident at most for 3072 rows, " << few.peakKiB << " for 384";
    }
}

/// Sizes beyond what the output's format holds, refused before any file is made: a PNG's sides are
/// 31-bit; OpenEXR keeps the corners below 2^30, and a block of 16 rows of floats within 2^31 - 1 bytes.
TEST_F(Render, RefusesSizesBeyondWhatTheFormatHolds) {
    Write("globe.json", globeScene);
    // Plane domains 3 high and 2^-20 and 2^-23 wide: at the default width of 512, 1610612736 and
    // 12884901888 pixels high.
    std::string tall = cellsScene;
    tall.replace(tall.find(R"("min": [-3, -1.5], "max": [3, 1.5])"), 34,
                 R"("min": [0, 0], "max": [9.5367431640625e-07, 3])");
    Write("tall.json", tall);
    std::string taller = cellsScene;
    taller.replace(taller.find(R"("min": [-3, -1.5], "max": [3, 1.5])"), 34,
                   R"("min": [0, 0], "max": [1.1920928955078125e-07, 3])");
    Write("taller.json", taller);
    const std::string exrWhy =
        " (OpenEXR keeps a side below 2^30 and a block of 16 rows of floats within 2 GiB)";
    const struct {
        std::vector<std::string> options;
        std::string message;
    } cases[] = {
        {{"globe.json", "-o", "a.png", "--size", "2147483648x1"},
         "--size: expected at most 2147483647 pixels wide for a PNG (a PNG's sides are 31-bit numbers), not "
         "2147483648"},
        {{"globe.json", "-o", "a.exr", "--size", "33554432x1", "--type", "double"},
         "--size: expected at most 33554431 pixels wide for an OpenEXR image of 1 channel" + exrWhy +
             ", not 33554432"},
        {{"globe.json", "-o", "a.exr", "--size", "11184811x1"},
         "--size: expected at most 11184810 pixels wide for an OpenEXR image of 3 channels" + exrWhy +
             ", not 11184811"},
        {{"globe.json", "-o", "a.exr", "--size", "8388608x1", "--type", "colora"},
         "--size: expected at most 8388607 pixels wide for an OpenEXR image of 4 channels" + exrWhy +
             ", not 8388608"},
        {{"globe.json", "-o", "a.exr", "--size", "1x1073741824"},
         "--size: expected at most 1073741823 pixels high for an OpenEXR image" + exrWhy +
             ", not 1073741824"},
        {{"tall.json", "-o", "a.exr"},
         "tall.json: /domain: at a width of 512 the image would be 1610612736 pixels high; expected at most "
         "1073741823 for an OpenEXR image (or give --size)"},
        {{"taller.json", "-o", "a.png"},
         "taller.json: /domain: at a width of 512 the image would be 12884901888 pixels high; expected at "
         "most "
         "2147483647 for a PNG (or give --size)"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.message);
        std::vector<std::string> arguments = {"render"};
        arguments.insert(arguments.end(), each.options.begin(), each.options.end());
        const RunResult run = Vantrel(arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "vantrel: " + each.message + "\n");
    }
    EXPECT_EQ(WorkFiles(), (std::vector<std::string>{"globe.json", "tall.json", "taller.json"}))
        << "no file is made";
}

TEST_F(Render, UnwritableTargetFailsWithStatusOneAndKeepsTheOldFile) {
    Write("globe.json", globeScene);
    Write("old.png", "the old picture");
    std::filesystem::create_directory(work / "folder.png");

    RunResult run = RenderTo("globe.json", "missing/globe.png", {"--size", "8x4"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("vantrel: missing/globe.png: cannot create a file in its folder", 0), 0u)
        << run.err;

    run = RenderTo("globe.json", "folder.png", {"--size", "8x4"});  // a folder is in the way
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(std::filesystem::is_directory(work / "folder.png"));

    // A file size limit makes writing fail part way, as a full disk would: SIGXFSZ, which would end
    // vantrel unannounced and leave the pending file, is ignored, so the write fails and says why.
    for (const char* target : {"old.png", "old.exr"}) {
        SCOPED_TRACE(target);
        if (std::string(target) == "old.exr") Write("old.exr", "the old picture");
        Process limited({"/bin/sh", "-c", "ulimit -f 1 && exec \"$0\" \"$@\"", VANTREL_PATH, "render",
                         "globe.json", "-o", target, "--size", "256x128"},
                        work, root / "streams", "");
        run = limited.Wait();
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(run.err.rfind(std::string("vantrel: ") + target + ": cannot write the ", 0), 0u) << run.err;
        EXPECT_TRUE(run.err.ends_with(": File too large\n")) << run.err;
        EXPECT_EQ(run.err.find(".tmp"), std::string::npos) << "the pending file is gone: " << run.err;
        EXPECT_EQ(ReadFile(work / target), "the old picture");
    }
    // Only the files from before: no pending file is left behind.
    EXPECT_EQ(WorkFiles(), (std::vector<std::string>{"folder.png", "globe.json", "old.exr", "old.png"}));
}

TEST_F(Render, RefusesToWriteOverTheSceneItself) {
    Write("scene.png", globeScene);
    for (const char* output : {"scene.png", "./scene.png", "../work/scene.png"}) {
        const RunResult run = RenderTo("scene.png", output, {"--size", "8x4"});
        EXPECT_EQ(run.status, 2) << output;
        EXPECT_NE(run.err.find("expected an output file other than the scene file"), std::string::npos)
            << run.err;
    }
    EXPECT_EQ(ReadFile(work / "scene.png"), globeScene);
}

/// A render stopped by a signal removes its pending file, leaves the old image and ends by the signal.
TEST_F(Render, SignalRemovesThePendingFileAndKeepsTheOldOne) {
    Write("globe.json", globeScene);
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        Write("globe.png", "the old picture");
        Process render = Start({"render", "globe.json", "-o", "globe.png", "--size", "8192x4096"});
        // The pending file appears before any sample is taken; stop the render once it is there.
        bool pending = false;
        for (int wait = 0; wait < 3000 && !pending; ++wait) {
            pending = WorkFiles().size() > 2;
            if (!pending) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(pending);
        kill(render.Pid(), signal);
        const RunResult run = render.Wait();
        EXPECT_EQ(run.status, 128 + signal) << run.err;
        EXPECT_EQ(ReadFile(work / "globe.png"), "the old picture");
        EXPECT_EQ(WorkFiles(), (std::vector<std::string>{"globe.json", "globe.png"}));
    }
}

}  // namespace
}  // namespace vantrel::test
