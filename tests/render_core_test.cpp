// The render apart from any command, as `vantrel serve` uses it: a PNG made in memory is byte for byte
// the file `vantrel render` writes; bands reach the encoder in order, each once its rows and those above
// are stored, within the bands the encoder holds; a cancelled render stops; a failing encoder stops it.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "quib/module_loader.h"
#include "scene/scene.h"
#include "tests/loaded_module.h"
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
        width, height, ChannelsFor(type), depth, BandsInFlight(threads),
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
        PngEncoder png(width, height, 3, 8, BandsInFlight(threads), [&](std::span<const std::uint8_t> piece) {
            bytes.insert(bytes.end(), piece.begin(), piece.end());
        });
        int reports = 0;
        const auto progress = [&](int) {
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

}  // namespace
}  // namespace vantrel::test
