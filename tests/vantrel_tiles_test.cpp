// `vantrel render --tile`: tiled, mip-mapped OpenEXR files read back by OpenEXR's own tiled reader,
// their first level the scan-line file's floats, each level below the mean of the one above.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfStandardAttributes.h>
#include <ImfTiledInputFile.h>

#include "tests/exr_image.h"
#include "tests/vantrel_run.h"

namespace vantrel::test {
namespace {

// W distortion of the position, unclamped: colour (x, y, D), its length as a double.
const char* const rampScene = R"~({ "format": "vantrel-scene/1", "output": "w",
    "nodes": [ { "id": "w", "type": "W Distortion",
                 "params": { "Position": { "link": "@position" }, "Distortion": 0.25 } } ],
    "domain": { "kind": "plane", "min": [-0.5, -1], "max": [1.5, 2] } })~";

/// A level of a tiled file: its floats, channels Y, R, G, B, A (those it has) interleaved.
struct Level {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<float> samples;

    float At(int x, int y, int c) const {
        return samples[(static_cast<std::size_t>(y) * width + x) * channels + c];
    }
};

Level ReadLevel(Imf::TiledInputFile& file, int level) {
    Level read;
    read.width = file.levelWidth(level);
    read.height = file.levelHeight(level);
    std::vector<const char*> names;
    for (const char* name : {"Y", "R", "G", "B", "A"}) {
        if (file.header().channels().findChannel(name) != nullptr) names.push_back(name);
    }
    read.channels = static_cast<int>(names.size());
    read.samples.resize(static_cast<std::size_t>(read.width) * read.height * read.channels);
    const std::size_t pixelBytes = sizeof(float) * read.channels;
    Imf::FrameBuffer frame;
    for (int c = 0; c < read.channels; ++c) {
        frame.insert(names[c],
                     Imf::Slice::Make(Imf::FLOAT, read.samples.data() + c, Imath::V2i(0, 0), read.width,
                                      read.height, pixelBytes, pixelBytes * read.width));
    }
    file.setFrameBuffer(frame);
    file.readTiles(0, file.numXTiles(level) - 1, 0, file.numYTiles(level) - 1, level);
    return read;
}

/// The level below `above` as the tiles' mipmap makes it: pixel (x, y) the mean of the pixels (2x, 2y),
/// (2x + 1, 2y), (2x, 2y + 1) and (2x + 1, 2y + 1) that lie in `above`, summed as doubles in that order,
/// rounded to a float; each side half the size above, rounded down, at least 1.
Level MeanBelow(const Level& above) {
    Level below{std::max(1, above.width / 2), std::max(1, above.height / 2), above.channels, {}};
    for (int y = 0; y < below.height; ++y) {
        for (int x = 0; x < below.width; ++x) {
            for (int c = 0; c < above.channels; ++c) {
                double sum = 0;
                int count = 0;
                for (int yy = 2 * y; yy < std::min(2 * y + 2, above.height); ++yy) {
                    for (int xx = 2 * x; xx < std::min(2 * x + 2, above.width); ++xx, ++count)
                        sum += above.At(xx, yy, c);
                }
                below.samples.push_back(static_cast<float>(sum / count));
            }
        }
    }
    return below;
}

/// The bits of each float, so that a difference shows in the last bit and -0 and NaN compare as stored.
std::vector<std::uint32_t> Bits(const std::vector<float>& samples) {
    std::vector<std::uint32_t> bits;
    for (const float value : samples)
        bits.push_back(std::bit_cast<std::uint32_t>(value));
    return bits;
}

class Tiles : public VantrelTest {
protected:
    RunResult RenderTo(const std::string& output, const std::vector<std::string>& options) {
        std::vector<std::string> arguments = {"render", "ramp.json", "-o", output};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return Vantrel(arguments);
    }
};

TEST_F(Tiles, LevelsAreOpenExrsAndTheFirstIsTheScanLineFile) {
    Write("ramp.json", rampScene);
    const struct {
        std::string size;
        std::string type;
        int tile;
        int levels;  ///< floor(log2(the longer side)) + 1
    } cases[] = {
        {"100x37", "double", 32, 7},  // neither side a multiple of the tile; odd sides drop a column or row
        {"100x37", "colora", 32, 7}, {"129x64", "color", 64, 8},
        {"9x1", "double", 16, 4},  // one row, kept at every level
        {"1x5", "colora", 16, 3},    {"300x200", "vec2", 128, 9},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.size + " " + each.type + " tile " + std::to_string(each.tile));
        const std::vector<std::string> options = {"--size", each.size, "--type", each.type};
        ASSERT_EQ(RenderTo("lines.exr", options).status, 0);
        std::vector<std::string> tiled = options;
        tiled.insert(tiled.end(), {"--tile", std::to_string(each.tile)});
        const RunResult run = RenderTo("tiles.exr", tiled);
        ASSERT_EQ(run.status, 0) << run.err;

        const Decoded lines = ReadExr(work / "lines.exr");
        Imf::TiledInputFile file((work / "tiles.exr").c_str());
        const Imf::TileDescription tiles = file.header().tileDescription();
        EXPECT_EQ(tiles.mode, Imf::MIPMAP_LEVELS);
        EXPECT_EQ(tiles.roundingMode, Imf::ROUND_DOWN);
        EXPECT_EQ(tiles.xSize, static_cast<unsigned>(each.tile));
        EXPECT_EQ(tiles.ySize, static_cast<unsigned>(each.tile));
        const Imf::Header& header = file.header();
        const Imf::Header scanned = Imf::InputFile((work / "lines.exr").c_str()).header();
        EXPECT_EQ(header.compression(), Imf::ZIP_COMPRESSION);
        ASSERT_TRUE(Imf::hasChromaticities(header));
        EXPECT_TRUE(Imf::chromaticities(header) == Imf::chromaticities(scanned));
        EXPECT_EQ(header.dataWindow(), scanned.dataWindow());
        EXPECT_EQ(header.displayWindow(), scanned.displayWindow());
        EXPECT_EQ(header.pixelAspectRatio(), scanned.pixelAspectRatio());
        EXPECT_EQ(header.screenWindowCenter(), scanned.screenWindowCenter());
        EXPECT_EQ(header.screenWindowWidth(), scanned.screenWindowWidth());
        ASSERT_EQ(file.numLevels(), each.levels);

        Level level = ReadLevel(file, 0);
        ASSERT_EQ(level.width, lines.width);
        ASSERT_EQ(level.height, lines.height);
        ASSERT_EQ(level.channels, lines.channels);
        const std::vector<float> floats(lines.samples.begin(), lines.samples.end());
        EXPECT_EQ(Bits(level.samples), Bits(floats)) << "the first level is the scan-line file's floats";
        for (int l = 1; l < each.levels; ++l) {
            SCOPED_TRACE("level " + std::to_string(l));
            const Level expected = MeanBelow(level);
            level = ReadLevel(file, l);
            ASSERT_EQ(level.width, std::max(1, lines.width >> l));
            ASSERT_EQ(level.height, std::max(1, lines.height >> l));
            EXPECT_EQ(Bits(level.samples), Bits(expected.samples));
        }
    }
}

TEST_F(Tiles, RefusesTilesOfOtherImagesAndSizes) {
    Write("ramp.json", rampScene);
    const std::string sizes =
        "--tile: expected a power of two from 16 to 4096, the side of a square tile "
        "in pixels, not ";
    const struct {
        std::vector<std::string> options;
        std::string message;
    } cases[] = {
        {{"-o", "a.png", "--tile", "64"}, "--tile: expected an OpenEXR image to tile, not a.png"},
        {{"-o", "a.exr.part", "--part", "1/2", "--tile", "64"},
         "--tile: expected a render of the whole image (the parts join into scan lines), not --part"},
        {{"-o", "a.exr", "--tile", "100"}, sizes + "100"},
        {{"-o", "a.exr", "--tile", "8"}, sizes + "8"},
        {{"-o", "a.exr", "--tile", "8192"}, sizes + "8192"},
        {{"-o", "a.exr", "--tile", "0"}, sizes + "0"},
        {{"-o", "a.exr", "--tile", "-64"}, sizes + "-64"},
        {{"-o", "a.exr", "--tile", "4294967312"}, sizes + "4294967312"},  // 2^32 + 16
        {{"-o", "a.exr", "--tile", "64px"},
         "--tile: expected a whole number, the side of a tile in pixels, "
         "not \"64px\""},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.message);
        std::vector<std::string> arguments = {"render", "ramp.json", "--size", "64x32"};
        arguments.insert(arguments.end(), each.options.begin(), each.options.end());
        const RunResult run = Vantrel(arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "vantrel: " + each.message + "\n");
    }
    EXPECT_EQ(WorkFiles(), std::vector<std::string>{"ramp.json"}) << "no file is made";
}

/// A tiled render holds the rows of tiles in flight and a row of tiles of each level below, not the
/// image: 4096 x 4096 RGBA floats are 256 MiB, the rows of 64-pixel tiles of two threads' bands in
/// flight (6 slots) 24 MiB, the levels below 2 MiB more.
TEST_F(Tiles, MemoryFollowsTheRowsOfTilesNotTheImage) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's shadow and quarantine make resident memory no measure";
#endif
    Write("ramp.json", rampScene);
    const RunResult run =
        RenderTo("wide.exr", {"--size", "4096x4096", "--type", "colora", "--threads", "2", "--tile", "64"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_LT(run.peakKiB, 64 * 1024) << run.peakKiB << " KiB resident at most for a 256 MiB image";
}

}  // namespace
}  // namespace vantrel::test
