// Evaluation from many threads at once: every node type in every output type, reading other nodes and
// the sample position through links, gives what one thread gives, bit for bit; and a render split over
// threads, by rows through SIMDEval and by the vantrel program's --threads, equals the serial one.
// Built under ThreadSanitizer (label "concurrency"), the same runs show that no evaluation writes what
// another reads, and that vantrel never runs a node's Update while that node is being evaluated.

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <latch>
#include <limits>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "host/function.h"
#include "quib/module_loader.h"
#include "scene/scene.h"
#include "tests/scene_text.h"
#include "tests/vantrel_run.h"

namespace {

using vantrel::test::SceneFromText;

constexpr int threadCount = 8;

/// Every node type of both modules, each reading others: the lattice on the sphere and on the plane, a W
/// distortion of the position, a fractal whose directions and radius come from those, a colour mix of
/// the distortion weighted by the fractal, and response curves over the mix; then the host's nodes: a
/// random colour of the sphere's cells, the fractal remapped, a product, a gradient map, a vector
/// combined and picked apart, and a mix of it all.
constexpr const char* graphScene = R"json({
  "format": "vantrel-scene/1",
  "nodes": [
    { "id": "sphere", "type": "Hexagonal lattice 3D(1)",
      "params": { "Position": { "link": "@position" }, "Subdivision": 4 },
      "curves": { "W1": [[0, 1], [0.3, 0.6], [0.5773502691896258, 0]], "W3": [[0.6, 0], [1, 0.5]] } },
    { "id": "plane", "type": "Hexagonal lattice 3D(1)",
      "params": { "Position": { "link": "warp" }, "Rescale result?": 0,
                  "(2=plane, 3=sphere)(how to make list box]": 2 } },
    { "id": "warp", "type": "W Distortion",
      "params": { "Position": { "link": "@position" }, "Distortion": { "link": "sphere" } } },
    { "id": "fractal", "type": "Leapfrog fractal",
      "params": { "A": { "link": "@position" }, "B": { "link": "warp" }, "C": { "link": "sphere" },
                  "Radius": { "link": "plane" }, "Iterations": 20 } },
    { "id": "paint", "type": "Vector to color",
      "params": { "In": { "link": "warp" }, "Weights": { "link": "fractal" } },
      "gradients": { "X color": [[-1, [0.1, 0.2, 0.9]], [0.2, [1, 0.5, 0]], [1, [0.3, 1, 0.3]]],
                     "W color": [[0, [1, 0, 0]], [3, [0, 0, 1]]] } },
    { "id": "tone", "type": "Curve3",
      "params": { "In": { "link": "paint" } },
      "curves": { "Curve": { "red": [[0, 0.1], [0.4, 0.8], [1, 1]], "blue": [[0, 1], [1, 0]] } } },
    { "id": "random", "type": "Random", "params": { "Vector": { "link": "sphere" }, "Seed": 9 } },
    { "id": "remap", "type": "Remap",
      "params": { "Value": { "link": "fractal" }, "To max": { "link": "random" },
                  "(0=linear, 1=smooth step, 2=step)Interpolation": 1 } },
    { "id": "math", "type": "Math",
      "params": { "A": { "link": "remap" }, "B": { "link": "plane" },
                  "(0=add, 1=subtract, 2=multiply, 3=divide, 4=minimum, 5=maximum, 6=power, 7=absolute, 8=floor, 9=fraction, 10=modulo)Operation": 10 } },
    { "id": "map", "type": "Gradient map",
      "params": { "Value": { "link": "math" }, "(0=smooth, 1=stepped)Interpolation": 1 },
      "gradients": { "Gradient": [[0, [0.2, 0, 0.4]], [0.5, [1, 0.6, 0]], [1, [0.9, 1, 0.8]]] } },
    { "id": "combine", "type": "Combine",
      "params": { "X": { "link": "math" }, "Y": { "link": "pick" }, "Z": { "link": "remap" } } },
    { "id": "pick", "type": "Pick",
      "params": { "Vector": { "link": "tone" }, "(0=x, 1=y, 2=z, 3=w)Component": { "link": "random" } } },
    { "id": "mix", "type": "Mix",
      "params": { "Factor": { "link": "random" }, "A": { "link": "map" }, "B": { "link": "combine" },
                  "(0=mix, 1=add, 2=multiply, 3=screen, 4=overlay)Blend": 4 } }
  ],
  "output": "mix",
  "domain": { "kind": "sphere" }
})json";

constexpr const char* nodeIds[] = {"sphere", "plane", "warp", "fractal", "paint", "tone", "random",
                                   "remap",  "math",  "map",  "combine", "pick",  "mix"};

/// The bytes of one evaluation: a text as it stands, any other value as its object representation, so
/// that a not-a-number compares by its bits.
template <class T>
std::string EvalBytes(Function& node, const Vec3d& position) {
    T out{};
    FunContext context{position};
    node.Eval(&out, &context);
    if constexpr (std::is_same_v<T, std::string>) {
        return out;
    } else {
        static_assert(std::is_trivially_copyable_v<T>);
        return std::string(reinterpret_cast<const char*>(&out), sizeof out);
    }
}

using Evaluation = std::string (*)(Function&, const Vec3d&);

/// The nine output types, in the order of the host's interface.
constexpr Evaluation outputTypes[] = {
    EvalBytes<std::string>, EvalBytes<ColorA>, EvalBytes<Color>,  EvalBytes<Quaternion>, EvalBytes<Vec4d>,
    EvalBytes<Vec3d>,       EvalBytes<Vec2d>,  EvalBytes<double>, EvalBytes<int>,
};
constexpr const char* outputTypeNames[] = {"string", "ColorA", "Color",  "Quaternion", "Vec4d",
                                           "Vec3d",  "Vec2d",  "double", "int"};

/// Sample positions: directions over the sphere, points over the plane, and a few special ones (the
/// origin, an axis, a point off the unit sphere, not-a-number).
std::vector<Vec3d> Samples() {
    std::vector<Vec3d> samples;
    vantrel::SampleDomain sphere;
    sphere.kind = vantrel::SampleDomain::Kind::Sphere;
    vantrel::SampleDomain plane;
    plane.min = {-3.0, -2.0};
    plane.max = {3.0, 2.0};
    constexpr int steps = 7;
    for (int i = 0; i < steps; ++i) {
        for (int j = 0; j < steps; ++j) {
            const double u = (i + 0.5) / steps;
            const double v = (j + 0.5) / steps;
            samples.push_back(sphere.Position(u, v));
            samples.push_back(plane.Position(u, v));
        }
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const Vec3d& special : {Vec3d(0, 0, 0), Vec3d(1, 0, 0), Vec3d(2.5, -1, 0.5), Vec3d(nan, 0, 1)})
        samples.push_back(special);
    return samples;
}

/// One evaluation to run: a node, an output type, a sample.
struct Job {
    Function* node;
    std::size_t type;
    std::size_t sample;
};

/// Every job, in the order: node, output type, sample.
std::vector<Job> AllJobs(const vantrel::Scene& scene, std::size_t sampleCount) {
    std::vector<Job> jobs;
    for (const char* id : nodeIds) {
        Function* node = scene.Node(id);
        for (std::size_t type = 0; type < std::size(outputTypes); ++type) {
            for (std::size_t sample = 0; sample < sampleCount; ++sample)
                jobs.push_back({node, type, sample});
        }
    }
    return jobs;
}

/// Runs every job, starting at `first` and wrapping round, so that threads started at different points
/// are at different nodes and types at any moment. result[i] is the bytes of job i.
std::vector<std::string> RunJobs(const std::vector<Job>& jobs, const std::vector<Vec3d>& samples,
                                 std::size_t first) {
    std::vector<std::string> result(jobs.size());
    for (std::size_t n = 0; n < jobs.size(); ++n) {
        const std::size_t i = (first + n) % jobs.size();
        const Job& job = jobs[i];
        result[i] = outputTypes[job.type](*job.node, samples[job.sample]);
    }
    return result;
}

TEST(ConcurrentEvaluation, EveryNodeAndOutputTypeMatchesSerialBitForBit) {
    const vantrel::Scene scene = SceneFromText(graphScene, "graph.json");
    const std::vector<Vec3d> samples = Samples();
    const std::vector<Job> jobs = AllJobs(scene, samples.size());
    const std::vector<std::string> serial = RunJobs(jobs, samples, 0);

    std::vector<std::vector<std::string>> parallel(threadCount);
    std::latch start(threadCount);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            parallel[t] = RunJobs(jobs, samples, jobs.size() * t / threadCount);
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    for (int t = 0; t < threadCount; ++t) {
        ASSERT_EQ(parallel[t].size(), serial.size());
        int mismatches = 0;
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            if (parallel[t][i] == serial[i]) continue;
            if (++mismatches == 1) {
                const Job& job = jobs[i];
                const Vec3d& p = samples[job.sample];
                ADD_FAILURE() << "thread " << t << ": " << job.node->Name() << " as "
                              << outputTypeNames[job.type] << " at (" << p.x << ", " << p.y << ", " << p.z
                              << ") differs from the serial result";
            }
        }
        EXPECT_EQ(mismatches, 0) << "thread " << t;
    }
}

/// The output node over an image of the scene's domain as `T`, rows `first`, `first + step`, ... each
/// by one SIMDEval call, written into `image` (width values a row).
template <class T>
void RenderRows(Function& node, const vantrel::SampleDomain& domain, int width, int height, int first,
                int step, std::vector<T>& image) {
    std::vector<FunContext> contexts(width);
    for (int y = first; y < height; y += step) {
        for (int x = 0; x < width; ++x)
            contexts[x].position = domain.Position((x + 0.5) / width, (y + 0.5) / height);
        node.SIMDEval(image.data() + static_cast<std::ptrdiff_t>(y) * width, contexts.data(), 0, width);
    }
}

template <class T>
void ExpectSplitRenderMatchesSerial(const vantrel::Scene& scene) {
    constexpr int width = 48;
    const int height = static_cast<int>(scene.Domain().HeightFor(width));
    const std::size_t size = static_cast<std::size_t>(width) * height;
    std::vector<T> serial(size);
    RenderRows(scene.Output(), scene.Domain(), width, height, 0, 1, serial);

    std::vector<T> split(size);
    std::latch start(threadCount);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            RenderRows(scene.Output(), scene.Domain(), width, height, t, threadCount, split);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(0, std::memcmp(serial.data(), split.data(), size * sizeof(T)));
}

TEST(ConcurrentEvaluation, RenderSplitByRowsMatchesSerial) {
    const vantrel::Scene scene = SceneFromText(graphScene, "graph.json");
    ExpectSplitRenderMatchesSerial<Color>(scene);
    ExpectSplitRenderMatchesSerial<ColorA>(scene);
    ExpectSplitRenderMatchesSerial<double>(scene);
    ExpectSplitRenderMatchesSerial<Vec3d>(scene);
}

using VantrelThreads = vantrel::test::VantrelTest;

// The program brings the nodes up to date before its render threads start; under ThreadSanitizer a
// render that ran Update beside an evaluation would be reported and fail here. With one sample a pixel
// and with 3 x 3.
TEST_F(VantrelThreads, RenderIsTheSameOnOneAndOnFourThreads) {
    Write("graph.json", graphScene);
    for (const char* output : {"graph.png", "graph.exr"}) {
        for (const char* samples : {"1", "3"}) {
            std::string images[2];
            for (const int threads : {1, 4}) {
                const auto run = Vantrel({"render", "graph.json", "-o", output, "--size", "64x32",
                                          "--threads", std::to_string(threads), "--samples", samples,
                                          "--module", VANTREL_MODULE_PATH, "--module", QUIB_NODES_PATH});
                ASSERT_EQ(run.status, 0) << run.err;
                images[threads == 1 ? 0 : 1] = vantrel::test::ReadFile(work / output);
            }
            EXPECT_FALSE(images[0].empty()) << output;
            EXPECT_TRUE(images[0] == images[1])
                << output << " --samples " << samples << ": four threads wrote other bytes than one";
        }
    }
}

}  // namespace
