// The render apart from any command, as `vantrel serve` uses it: a PNG made in memory is byte for byte
// the file `vantrel render` writes; each PNG filter alone gives what libpng decodes; bands reach the encoder
// in order, each once its rows and those above are stored, within the bands the encoder holds; a cancelled
// render stops; a failing encoder stops it.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "quib/module_loader.h"
#include "scene/scene.h"
#include "tests/loaded_module.h"
#include "tests/png_image.h"
#include "tests/scene_text.h"
#include "tests/vantrel_run.h"
#include "tools/image/image_file.h"
#include "tools/image/png_encoder.h"
#include "tools/render/render_core.h"

namespace vantrel::test {
namespace {

std::string Example(const std::string& name) {
    return std::string(VANTREL_EXAMPLES_DIR) + "/" + name;
}

/// The PNG of `scene` made in memory.
std::vector<std::uint8_t> PngInMemory(const Scene& scene, int width, int height, OutputType type, int threads,
                                      int depth) {
    std::vector<std::uint8_t> bytes;
    PngEncoder png(
        width, height, ChannelsFor(type), depth, LevelsFor(type, false), BandsInFlight(threads),
        [&](std::span<const std::uint8_t> piece) { bytes.insert(bytes.end(), piece.begin(), piece.end()); });
    EXPECT_TRUE(Render({scene.Output(), scene.Domain(), width, height, type, threads, 1, nullptr, {}}, png));
    return bytes;
}

class RenderCore : public VantrelTest {};

struct PngCase {
    const char* scene;
    int width;
    int height;
    OutputType type;
    const char* typeName;
    int depth;
};

TEST_F(RenderCore, PngInMemoryIsTheFileRenderWrites) {
    const PngCase cases[] = {
        {"hex-lattice-sphere.json", 300, 150, OutputType::Color, "color", 8},
        {"curve3.json", 640, 333, OutputType::Color, "color", 8},  // flat: its bands deflate as one
        {"leapfrog-fractal.json", 97, 61, OutputType::Double, "double", 16},
        {"w-distortion.json", 200, 700, OutputType::ColorA, "colora", 8},
        {"hex-lattice-plane.json", 1, 1, OutputType::Vec2, "vec2", 8},
    };
    for (const PngCase& each : cases) {
        SCOPED_TRACE(each.scene);
        const std::string size = std::to_string(each.width) + "x" + std::to_string(each.height);
        const RunResult run = Vantrel({"render", Example(each.scene), "-o", "file.png", "--size", size,
                                       "--type", each.typeName, "--depth", std::to_string(each.depth)});
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string file = ReadFile(work / "file.png");
        const Scene scene = Scene::FromFile(Example(each.scene), TheModule());
        for (int threads : {1, 2, 5}) {
            const std::vector<std::uint8_t> bytes =
                PngInMemory(scene, each.width, each.height, each.type, threads, each.depth);
            EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == file)
                << threads << " threads gave other bytes";
        }
    }
}

// Each of PNG's five filters forced on every row in turn, on rows made to reach every branch of its
// predictor: what libpng decodes must be the rows given, and every row must say it was stored with that
// filter. Adaptive filtering hides a wrong branch wherever another filter wins; here none can. The
// branches are counted from the rows by PNG's own rule, apart from the encoder: Paeth's three choices,
// each alone and in each tie (pa = pb, pa = pc, pb = pc, all three), Average's odd sums, which round
// down, and its sums beyond a byte, the left edge (no a, c), the top row (no b, c), at 8 and 16 bits
// (a is the byte a pixel back: two a channel at 16) in grey, RGB and RGBA.

/// What the bytes of `rows` (`height` rows of `rowBytes`, pixels of `pixelBytes`) make each predictor
/// do, by name: "paeth a", "paeth a=b", ..., "average odd", "average over 255", "left edge", "top row".
/// (Paeth's pa and pb tie, below pc, only where a = b: there either choice predicts alike.)
std::map<std::string, int> PredictorBranches(const std::vector<std::uint8_t>& rows, int height,
                                             std::size_t rowBytes, std::size_t pixelBytes) {
    std::map<std::string, int> seen;
    for (int y = 0; y < height; ++y) {
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const std::uint8_t* row = rows.data() + y * rowBytes;
            const int a = i >= pixelBytes ? row[i - pixelBytes] : 0;
            const int b = y > 0 ? row[i - rowBytes] : 0;
            const int c = y > 0 && i >= pixelBytes ? row[i - rowBytes - pixelBytes] : 0;
            const int p = a + b - c;
            const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            const char* paeth = pa == pb && pb == pc  ? "paeth a=b=c"
                                : pa == pb && pa < pc ? "paeth a=b"
                                : pa == pc && pa < pb ? "paeth a=c"
                                : pb == pc && pb < pa ? "paeth b=c"
                                : pa < pb && pa < pc  ? "paeth a"
                                : pb < pc             ? "paeth b"
                                                      : "paeth c";
            ++seen[paeth];
            if ((a + b) % 2 == 1) ++seen["average odd"];
            if (a + b > 255) ++seen["average over 255"];
            if (i < pixelBytes) ++seen["left edge"];
            if (y == 0) ++seen["top row"];
        }
    }
    return seen;
}

/// The zlib stream of a PNG's IDAT chunks, inflated: each row's filter type byte, then its bytes.
std::vector<std::uint8_t> StoredRows(const std::vector<std::uint8_t>& png, std::size_t size) {
    std::vector<std::uint8_t> stream;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t length =
            std::size_t{png[at]} << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
        if (std::string(png.begin() + at + 4, png.begin() + at + 8) == "IDAT")
            stream.insert(stream.end(), png.begin() + at + 8, png.begin() + at + 8 + length);
        at += length + 12;
    }
    std::vector<std::uint8_t> stored(size);
    uLongf storedSize = size;
    EXPECT_EQ(uncompress(stored.data(), &storedSize, stream.data(), stream.size()), Z_OK);
    EXPECT_EQ(storedSize, size);
    return stored;
}

TEST_F(RenderCore, EachPngFilterDecodesToTheRowsGiven) {
    const struct {
        int depth;
        int channels;
    } shapes[] = {{8, 1}, {8, 3}, {8, 4}, {16, 1}, {16, 3}, {16, 4}};
    const std::pair<PngRowFilter, const char*> filters[] = {{PngRowFilter::None, "None"},
                                                            {PngRowFilter::Sub, "Sub"},
                                                            {PngRowFilter::Up, "Up"},
                                                            {PngRowFilter::Average, "Average"},
                                                            {PngRowFilter::Paeth, "Paeth"}};
    const int width = 16;
    const int height = 32;
    // Few levels, near both ends: neighbours are often equal or evenly spaced, so that the predictors
    // tie, and large ones sum beyond a byte. (The count of each branch below checks that they do.)
    const std::uint8_t levels[] = {0, 1, 2, 3, 253, 254, 255};
    for (const auto& shape : shapes) {
        SCOPED_TRACE(std::to_string(shape.depth) + " bits, " + std::to_string(shape.channels) + " channels");
        const std::size_t pixelBytes = static_cast<std::size_t>(shape.channels) * shape.depth / 8;
        const std::size_t rowBytes = width * pixelBytes;
        std::vector<std::uint8_t> rows(height * rowBytes);
        std::uint32_t state = 12345;  // a fixed sequence: the same rows on every run
        for (std::uint8_t& byte : rows) {
            state = state * 1664525u + 1013904223u;
            byte = levels[(state >> 16) % std::size(levels)];
        }
        const std::map<std::string, int> branches = PredictorBranches(rows, height, rowBytes, pixelBytes);
        for (const char* branch : {"paeth a", "paeth b", "paeth c", "paeth a=b", "paeth a=c", "paeth b=c",
                                   "paeth a=b=c", "average odd", "average over 255", "left edge", "top row"})
            EXPECT_GT(branches.count(branch), 0u) << "no byte takes " << branch;
        for (const auto& [filter, name] : filters) {
            SCOPED_TRACE(name);
            std::vector<std::uint8_t> png;
            PngEncoder encoder(
                width, height, shape.channels, shape.depth, PngLevels::Data, BandsInFlight(1),
                [&](std::span<const std::uint8_t> piece) {
                    png.insert(png.end(), piece.begin(), piece.end());
                },
                filter);
            const double top = shape.depth == 16 ? 65535.0 : 255.0;
            std::vector<double> values(static_cast<std::size_t>(width) * shape.channels);
            for (int band = 0; band < encoder.Bands(); ++band) {
                for (int y = encoder.FirstRow(band); y < encoder.EndRow(band); ++y) {
                    const std::uint8_t* row = rows.data() + y * rowBytes;
                    for (std::size_t i = 0; i < values.size(); ++i)
                        values[i] = (shape.depth == 16 ? row[2 * i] * 256 + row[2 * i + 1] : row[i]) / top;
                    encoder.SetRow(y, values.data());
                }
                encoder.Encode(band);
                encoder.Put(band);
            }
            const std::vector<std::uint8_t> stored = StoredRows(png, height * (rowBytes + 1));
            for (int y = 0; y < height; ++y)
                EXPECT_EQ(stored[y * (rowBytes + 1)], static_cast<int>(filter)) << "the filter of row " << y;
            const std::filesystem::path file = work / "filtered.png";
            WriteFile(file, std::string(png.begin(), png.end()));
            png_uint_32 decodedWidth = 0, decodedHeight = 0;
            int channels = 0, depth = 0;
            std::vector<unsigned char> decoded;
            ASSERT_TRUE(
                ReadPngRows(file.c_str(), &decodedWidth, &decodedHeight, &channels, &depth, &decoded));
            EXPECT_EQ(decodedWidth, static_cast<png_uint_32>(width));
            EXPECT_EQ(decodedHeight, static_cast<png_uint_32>(height));
            EXPECT_EQ(channels, shape.channels);
            EXPECT_EQ(depth, shape.depth);
            EXPECT_TRUE(decoded == rows) << "libpng decodes other rows";
        }
    }
}

/// An encoder that checks the order of the calls it gets: a band is encoded once its rows and those of
/// the band above are stored, handed on in order once encoded, and no row is stored in a slot whose band
/// is still needed.
class CheckingSink : public BandSink {
public:
    CheckingSink(int width, int height, int bandRows, int tailRows, int slots, int top = 0, int end = -1)
        : BandSink(width, height, 1, bandRows, tailRows, slots, top, end),
          stored(height),
          handedOn(FirstBand()) {}

    void SetRow(int y, const double* values) override {
        std::lock_guard lock(mutex);
        const int band = BandOf(y);
        // The band that held this slot before, and the one after it, are handed on.
        if (band - Slots() + 1 >= handedOn)
            faults.push_back("row " + std::to_string(y) + " overwrote a band in use");
        if (values[0] != values[0]) faults.push_back("not a number");
        if (y < Top() || y >= End()) faults.push_back("row " + std::to_string(y) + " is not the sink's");
        stored[y] = true;
    }
    void Encode(int band) override {
        std::lock_guard lock(mutex);
        for (int y = band > FirstBand() ? FirstRow(band - 1) : FirstRow(band); y < EndRow(band); ++y) {
            if (!stored[y])
                faults.push_back("band " + std::to_string(band) + " encoded before row " + std::to_string(y));
        }
        encoded.push_back(band);
    }
    void Put(int band) override {
        std::lock_guard lock(mutex);
        if (band != handedOn) faults.push_back("band " + std::to_string(band) + " handed on out of order");
        if (std::find(encoded.begin(), encoded.end(), band) == encoded.end())
            faults.push_back("band " + std::to_string(band) + " handed on before it was encoded");
        ++handedOn;
        if (band == failAt) throw std::runtime_error("the disk is full");
    }

    std::mutex mutex;
    std::vector<bool> stored;
    std::vector<int> encoded;
    std::vector<std::string> faults;
    int handedOn;
    int failAt = -1;
};

// The last rows, from one band's worth to less than two (all when there are fewer), go in short bands;
// every row is in the band that starts at or before it and ends after it.
// sRGB's transfer function against the standard's own form by std::pow, and the 8-bit table against
// the function it stands for: at the foot of every level (found here from the standard's inverse, and
// swept a few thousand doubles either side, where an off-by-one of the table would show) and at
// values spread over 0..1.
TEST(Srgb, LevelsAreTheTransferFunctionsToTheBit) {
    const auto standard = [](double v) {
        return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
    };
    std::vector<double> values;
    for (int k = 1; k < 256; ++k) {
        const double encoded = (k - 0.5) / 255.0;
        const double foot = encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
        double below = foot, above = foot;
        for (int step = 0; step < 2048; ++step) {
            values.push_back(below = std::nextafter(below, 0.0));
            values.push_back(above = std::nextafter(above, 1.0));
        }
    }
    for (int i = 0; i <= 1 << 16; ++i)
        values.push_back(i / 65536.0);
    int wrong = 0;
    for (const double v : values) {
        const double encoded = SrgbEncoded(v);
        const unsigned int level = SrgbLevel8(v);
        if ((std::abs(encoded - standard(v)) > 1e-15 ||
             level != static_cast<unsigned int>(encoded * 255.0 + 0.5)) &&
            ++wrong <= 5)
            ADD_FAILURE() << std::hexfloat << v << ": " << encoded << " for " << standard(v) << ", level "
                          << level;
    }
    EXPECT_EQ(wrong, 0) << "of " << values.size();
}

TEST(BandSink, CutsTheLastBandsShort) {
    struct Case {
        int height;
        int bandRows;
        int tailRows;
        std::vector<int> firstRows;  // of each band, then the height
    } cases[] = {
        {1, 10, 3, {0, 1}},
        {10, 10, 3, {0, 3, 6, 9, 10}},
        {11, 10, 3, {0, 3, 6, 9, 11}},
        {21, 10, 3, {0, 10, 13, 16, 19, 21}},
        {100, 30, 8, {0, 30, 60, 68, 76, 84, 92, 100}},
        {120, 30, 8, {0, 30, 60, 68, 76, 84, 92, 100, 108, 116, 120}},
        {120, 30, 30, {0, 30, 60, 90, 120}},
        {7, 1, 1, {0, 1, 2, 3, 4, 5, 6, 7}},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(std::to_string(each.height) + " rows in bands of " + std::to_string(each.bandRows) +
                     ", the last in bands of " + std::to_string(each.tailRows));
        CheckingSink sink(1, each.height, each.bandRows, each.tailRows, 4);
        std::vector<int> firstRows;
        for (int band = 0; band < sink.Bands(); ++band) {
            firstRows.push_back(sink.FirstRow(band));
            EXPECT_EQ(sink.EndRow(band), band + 1 < sink.Bands() ? sink.FirstRow(band + 1) : each.height);
            for (int y = sink.FirstRow(band); y < sink.EndRow(band); ++y)
                EXPECT_EQ(sink.BandOf(y), band) << "row " << y;
        }
        firstRows.push_back(each.height);
        EXPECT_EQ(firstRows, each.firstRows);
    }
}

TEST_F(RenderCore, BandsGoInOrderWithinTheSlotsTheEncoderHolds) {
    const Scene scene = Scene::FromFile(Example("hex-lattice-plane.json"), TheModule());
    struct Case {
        int height;
        int bandRows;
        int tailRows;
        int threads;
        int top = 0;  // the rows the sink takes, as a part of a render does
        int end = -1;
    } cases[] = {{1, 1, 1, 1},
                 {7, 1, 1, 1},
                 {100, 1, 1, 3},
                 {100, 3, 1, 2},
                 {1000, 7, 2, 4},
                 {999, 16, 5, 8},
                 {50, 64, 64, 2},
                 {50, 64, 10, 2},
                 {97, 12, 12, 1},
                 {1000, 7, 2, 4, 500, 501},
                 {1000, 7, 2, 3, 93, 997},
                 {999, 16, 5, 8, 0, 17},
                 {120, 30, 8, 2, 95, 120}};
    for (const Case& each : cases) {
        SCOPED_TRACE(std::to_string(each.height) + " rows in bands of " + std::to_string(each.bandRows) +
                     ", the last in bands of " + std::to_string(each.tailRows) + ", on " +
                     std::to_string(each.threads) + " threads, rows " + std::to_string(each.top) + " to " +
                     std::to_string(each.end));
        CheckingSink sink(3, each.height, each.bandRows, each.tailRows, BandsInFlight(each.threads), each.top,
                          each.end);
        EXPECT_TRUE(Render({scene.Output(),
                            scene.Domain(),
                            3,
                            each.height,
                            OutputType::Double,
                            each.threads,
                            1,
                            nullptr,
                            {}},
                           sink));
        EXPECT_EQ(sink.faults, std::vector<std::string>{});
        EXPECT_EQ(sink.handedOn, sink.EndBand());
        EXPECT_EQ(static_cast<int>(sink.encoded.size()), sink.EndBand() - sink.FirstBand());
        EXPECT_EQ(std::count(sink.stored.begin(), sink.stored.end(), true), sink.End() - sink.Top());
    }
}

TEST_F(RenderCore, FailureOfTheEncoderStopsTheRenderAndIsThrown) {
    const Scene scene = Scene::FromFile(Example("hex-lattice-plane.json"), TheModule());
    CheckingSink sink(3, 500, 2, 2, BandsInFlight(2));
    sink.failAt = 3;
    try {
        Render({scene.Output(), scene.Domain(), 3, 500, OutputType::Double, 2, 1, nullptr, {}}, sink);
        ADD_FAILURE() << "the failure was not thrown";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "the disk is full");
    }
    EXPECT_EQ(sink.handedOn, 4) << "no band is handed on after the one that failed";
    EXPECT_EQ(sink.faults, std::vector<std::string>{});
}

// The leapfrog sphere takes about 80 iterations a sample: 4096x256 is about three seconds of one core's
// work, far more than the first progress report's 200 ms on any number of threads here.
TEST_F(RenderCore, CancelStopsBetweenRows) {
    const Scene scene = Scene::FromFile(Example("leapfrog-sphere.json"), TheModule());
    const int width = 4096;
    const int height = 256;
    {
        SCOPED_TRACE("cancelled before the start");
        std::atomic<bool> cancel{true};
        CheckingSink sink(3, height, 4, 4, BandsInFlight(2));
        EXPECT_FALSE(
            Render({scene.Output(), scene.Domain(), 3, height, OutputType::Double, 2, 1, &cancel, {}}, sink));
        EXPECT_EQ(std::count(sink.stored.begin(), sink.stored.end(), true), 0);
        EXPECT_EQ(sink.handedOn, 0);
    }
    for (int threads : {1, 2, 3}) {
        SCOPED_TRACE("cancelled at the first progress, on " + std::to_string(threads) + " threads");
        std::atomic<bool> cancel{false};
        std::vector<std::uint8_t> bytes;
        PngEncoder png(width, height, 3, 8, PngLevels::Srgb, BandsInFlight(threads),
                       [&](std::span<const std::uint8_t> piece) {
                           bytes.insert(bytes.end(), piece.begin(), piece.end());
                       });
        int reports = 0;
        const auto progress = [&](const RenderProgress&) {
            ++reports;
            cancel = true;
        };
        EXPECT_FALSE(Render(
            {scene.Output(), scene.Domain(), width, height, OutputType::Color, threads, 1, &cancel, progress},
            png));
        EXPECT_EQ(reports, 1);
    }
    {
        SCOPED_TRACE("cancelled from another thread");
        std::atomic<bool> cancel{false};
        CheckingSink sink(width, height, 4, 4, BandsInFlight(2));
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            cancel = true;
        });
        EXPECT_FALSE(Render(
            {scene.Output(), scene.Domain(), width, height, OutputType::Double, 2, 1, &cancel, {}}, sink));
        canceller.join();
        EXPECT_LT(sink.handedOn, sink.Bands());
        EXPECT_EQ(sink.faults, std::vector<std::string>{});
    }
}

// A row of samples that take tens of milliseconds each shows its progress while the row is taken: a
// render of hours must not sit at "0 of N rows" until its first row is done.
TEST_F(RenderCore, ProgressMovesWithinASlowRow) {
    const Scene scene = SceneFromText(R"~({"format": "vantrel-scene/1", "output": "f",
        "nodes": [{"id": "f", "type": "Leapfrog fractal",
                   "params": {"A": {"link": "@position"}, "Radius": 0, "Iterations": 2000000}}],
        "domain": {"kind": "sphere"}})~",
                                      "slow.json");
    CheckingSink sink(24, 1, 1, 1, BandsInFlight(1));
    std::vector<RenderProgress> reports;
    EXPECT_TRUE(Render({scene.Output(), scene.Domain(), 24, 1, OutputType::Double, 1, 1, nullptr,
                        [&](const RenderProgress& done) { reports.push_back(done); }},
                       sink));
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front().samples, 24);
    EXPECT_TRUE(std::any_of(reports.begin(), reports.end(), [](const RenderProgress& done) {
        return done.rowsDone == 0 && done.samplesTaken > 0 && done.samplesTaken < done.samples;
    })) << "no report between the first sample and the end of the row";
}

}  // namespace
}  // namespace vantrel::test
