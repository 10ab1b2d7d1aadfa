// A full render of a 1024 x 512 sphere scene (the lattice in sphere mode painted by Vector to color), at
// one and at two threads, in samples per second (items per second, against wall-clock time).
//
// Two ways: "Render/scene" loads the scene through the host runtime's scene API and evaluates it as
// `vantrel render` does, in this process (rows pulled from a shared counter, each row one `SIMDEval`
// over the pixel centres, its colours copied into an image buffer), so it counts evaluation alone. The
// loop is written out here because vantrel keeps its own private to the program. "Render/vantrel" runs
// the built `vantrel render` as a user does, so it also counts starting the program, loading the module
// and the scene, and encoding and writing the PNG; "Render/vantrel-exr" the same at 2048 x 1024 to an
// OpenEXR image of one channel; "Render/window" a window of the image against the whole, by the render
// library; "Render/exr-tiled" sets tiled, mip-mapped OpenEXR against scan lines; "Render/mesh" a model's
// texture against the sphere.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "scene/mesh_building.h"
#include "scene/scene.h"
#include "scene/scene_format.h"
#include "tools/render/render_core.h"
#include "tools/render/sample_arrays.h"

namespace vantrel::bench {
namespace {

constexpr int width = 1024;
constexpr int height = 512;

const char* const sceneText = R"json({
  "format": "vantrel-scene/1",
  "nodes": [
    { "id": "lattice", "type": "Hexagonal lattice 3D(1)",
      "params": { "Position": { "link": "@position" }, "Subdivision": 6 },
      "curves": { "W1": [[0, 1], [0.5773502691896258, 0]] } },
    { "id": "paint", "type": "Vector to color",
      "params": { "In": { "link": "lattice" }, "Weights": [1, 0, 0, 0] },
      "gradients": { "X color": [[-1, [0.05, 0.05, 0.1]], [0, [0.2, 0.5, 0.6]], [1, [1, 0.8, 0.3]]] } }
  ],
  "output": "paint",
  "domain": { "kind": "sphere" }
})json";

/// Renders rows from the shared counter until none is left, as vantrel's render threads do.
void RenderRows(const Scene& scene, std::atomic<int>& nextRow, std::vector<double>& image) {
    std::vector<FunContext> contexts(width);
    std::vector<Color> values(width);
    for (int y = nextRow++; y < height; y = nextRow++) {
        for (int x = 0; x < width; ++x) {
            contexts[x].position = scene.Domain().Position((x + 0.5) / width, (y + 0.5) / height);
            values[x] = Color();
        }
        scene.Output().SIMDEval(values.data(), contexts.data(), 0, width);
        double* row = image.data() + static_cast<std::ptrdiff_t>(y) * width * 3;
        for (int x = 0; x < width; ++x) {
            row[3 * x] = values[x].red;
            row[3 * x + 1] = values[x].green;
            row[3 * x + 2] = values[x].blue;
        }
    }
}

void RenderScene(benchmark::State& state) {
    // The module lives as long as the program: the scene shares it without owning it.
    const Scene::ModulePointer module(Scene::ModulePointer(), &LoadedModule());
    const Scene scene =
        Scene::FromDocument(JsonDocument::Parse(sceneText, sceneNesting), "bench-sphere.json", module);
    const int threads = static_cast<int>(state.range(0));
    std::vector<double> image(static_cast<std::size_t>(width) * height * 3);
    for (auto _ : state) {
        std::atomic<int> nextRow{0};
        std::vector<std::thread> workers;
        for (int i = 0; i < threads; ++i)
            workers.emplace_back([&] { RenderRows(scene, nextRow, image); });
        for (std::thread& worker : workers)
            worker.join();
        benchmark::DoNotOptimize(image.data());
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}
BENCHMARK(RenderScene)
    ->Name("Render/scene")
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

/// A 256 x 256 window from inside the 1024 x 512 image against the whole image, each rendered into
/// memory by the render library on one thread: a window's pixels are sampled where the whole image's
/// lie, and should cost no more a pixel.
void RenderWindow(benchmark::State& state) {
    const Scene::ModulePointer module(Scene::ModulePointer(), &LoadedModule());
    const Scene scene =
        Scene::FromDocument(JsonDocument::Parse(sceneText, sceneNesting), "bench-sphere.json", module);
    const bool window = state.range(0) == 1;
    const int side = window ? 256 : width;
    const int rows = window ? 256 : height;
    std::vector<double> pixels(static_cast<std::size_t>(side) * rows * 3);
    const std::optional<PixelGrid> grid =
        window ? std::optional(PixelGrid{width, height, 384, 128}) : std::nullopt;
    const RenderRequest request{
        scene.Output(), scene.Domain(), side, rows, OutputType::Color, 1, 1, nullptr, {}, grid};
    for (auto _ : state) {
        ImageBuffer buffer(side, rows, 3, pixels.data());
        Render(request, buffer);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * side * rows);
}
BENCHMARK(RenderWindow)->Name("Render/window")->ArgName("window")->Arg(0)->Arg(1)->UseRealTime();

/// A torus of 224 x 224 quads, 100,352 triangles, over the whole texture.
std::shared_ptr<const MeshModel> FineTorus() {
    constexpr int cells = 224;
    constexpr double turn = 6.283185307179586;
    MeshBuilder torus("a torus of 100,352 triangles");
    for (int j = 0; j <= cells; ++j) {
        for (int i = 0; i <= cells; ++i) {
            const double around = turn * i / cells, tube = turn * j / cells;
            const double radius = 1 + 0.35 * std::cos(tube);
            torus.AddVertex({radius * std::cos(around), radius * std::sin(around), -0.35 * std::sin(tube)},
                            {double(i) / cells, double(j) / cells});
        }
    }
    const auto vertex = [](int i, int j) { return std::uint32_t(j * (cells + 1) + i); };
    for (int j = 0; j < cells; ++j) {
        for (int i = 0; i < cells; ++i) {
            torus.AddTriangle(vertex(i, j + 1), vertex(i + 1, j + 1), vertex(i + 1, j));
            torus.AddTriangle(vertex(i, j + 1), vertex(i + 1, j), vertex(i, j));
        }
    }
    return std::make_shared<const MeshModel>(torus.Finish());
}

/// The whole sphere against a model's texture of the same size, each rendered into memory by the
/// render library on one thread: the model's raster, made for each render, and its lookups should
/// cost little against the samples.
void RenderMesh(benchmark::State& state) {
    const Scene::ModulePointer module(Scene::ModulePointer(), &LoadedModule());
    const Scene scene =
        Scene::FromDocument(JsonDocument::Parse(sceneText, sceneNesting), "bench-sphere.json", module);
    SampleDomain domain = scene.Domain();
    if (state.range(0) == 1) {
        domain.kind = SampleDomain::Kind::Mesh;
        domain.mesh = FineTorus();
    }
    std::vector<double> pixels(static_cast<std::size_t>(width) * height * 3);
    const RenderRequest request{scene.Output(), domain, width, height, OutputType::Color, 1, 1, nullptr, {}};
    for (auto _ : state) {
        ImageBuffer buffer(width, height, 3, pixels.data());
        Render(request, buffer);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}
BENCHMARK(RenderMesh)->Name("Render/mesh")->ArgName("mesh")->Arg(0)->Arg(1)->UseRealTime();

/// Runs `argv` with standard output and error discarded; throws unless it exits with status 0. Returns
/// the most memory it held resident at once, in KiB.
long Run(const std::vector<std::string>& argv) {
    const pid_t child = Spawn(argv);
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("failed: " + argv[0] + " " + argv[1]);
    return usage.ru_maxrss;
}

/// A folder of its own holding the scene `text`, for runs of `vantrel render`; removed when it goes.
struct RenderFolder {
    RenderFolder(const std::string& name, const char* text)
        : path(std::filesystem::temp_directory_path() /
               ("vantrel-bench-" + name + "-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(path);
        std::ofstream(path / "scene.json") << text;
    }
    ~RenderFolder() { std::filesystem::remove_all(path); }

    /// The command line that renders the scene to `output` in the folder at `size` ("WxH").
    std::vector<std::string> Command(const std::string& output, const std::string& size,
                                     const std::vector<std::string>& more = {}) const {
        std::vector<std::string> command = {VANTREL_PATH,
                                            "render",
                                            (path / "scene.json").string(),
                                            "-o",
                                            (path / output).string(),
                                            "--size",
                                            size,
                                            "--module",
                                            VANTREL_MODULE_PATH};
        command.insert(command.end(), more.begin(), more.end());
        return command;
    }

    std::filesystem::path path;
};

void RenderVantrel(benchmark::State& state) {
    const RenderFolder folder("render", sceneText);
    const std::vector<std::string> command =
        folder.Command("sphere.png", std::to_string(width) + "x" + std::to_string(height),
                       {"--threads", std::to_string(state.range(0))});
    try {
        for (auto _ : state)
            Run(command);
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}
BENCHMARK(RenderVantrel)
    ->Name("Render/vantrel")
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

/// The same scene at 2048 x 1024 as a real (one channel) to OpenEXR: the blocks' compression is a fair
/// share of the work, so the ratio of 2 threads to 1 shows whether any thread waits for it.
void RenderVantrelExr(benchmark::State& state) {
    const RenderFolder folder("render-exr", sceneText);
    const std::vector<std::string> command = folder.Command(
        "sphere.exr", "2048x1024", {"--type", "double", "--threads", std::to_string(state.range(0))});
    try {
        for (auto _ : state)
            Run(command);
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
    }
    state.SetItemsProcessed(state.iterations() * 2048 * 1024);
}
BENCHMARK(RenderVantrelExr)
    ->Name("Render/vantrel-exr")
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

/// A cheap scene, so that the run is the writer's: Vector to color of the plane position, a colour ramp.
const char* const rampText = R"json({
  "format": "vantrel-scene/1",
  "nodes": [
    { "id": "paint", "type": "Vector to color",
      "params": { "In": { "link": "@position" }, "Weights": [2, 1, 0, 0] },
      "gradients": { "X color": [[0, [0.55, 0.1, 0.4]], [0.5, [1, 0.85, 0.3]], [1, [0.15, 0.35, 0.8]]],
                     "Y color": [[0, [0, 0, 0]], [1, [1, 1, 1]]] } }
  ],
  "output": "paint",
  "domain": { "kind": "plane", "min": [0, 0], "max": [1, 1] }
})json";

/// The same image, 4096 x 2048 RGBA floats of the cheap ramp, as OpenEXR in tiles with their mipmap levels
/// (written by OpenEXR's own tiled writer) and in scan lines (vantrel's own writer): both run in each
/// iteration, and "tiled/scan" is the ratio of their wall-clock times in one run.
void RenderTiledExr(benchmark::State& state) {
    const RenderFolder folder("tiled", rampText);
    const std::vector<std::string> more = {"--type", "colora", "--threads", "2"};
    const std::vector<std::string> scan = folder.Command("scan.exr", "4096x2048", more);
    std::vector<std::string> tiled = folder.Command("tiled.exr", "4096x2048", more);
    tiled.insert(tiled.end(), {"--tile", std::to_string(state.range(0))});
    const auto seconds = [](const std::vector<std::string>& command) {
        const auto start = std::chrono::steady_clock::now();
        Run(command);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    double scanSeconds = 0;
    double tiledSeconds = 0;
    try {
        for (auto _ : state) {
            scanSeconds += seconds(scan);
            tiledSeconds += seconds(tiled);
        }
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
    }
    state.counters["tiled/scan"] = tiledSeconds / scanSeconds;
    state.SetItemsProcessed(state.iterations() * 2 * 4096 * 2048);
}
BENCHMARK(RenderTiledExr)
    ->Name("Render/exr-tiled")
    ->ArgName("tile")
    ->Arg(64)
    ->Arg(256)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

/// The peak resident memory of `vantrel render` against the image's size, in the label ("peak 44.1
/// MiB"): it follows the width, not the height, as rows go to the file as they are done. Run once each
/// (the figure does not vary), to PNG and to OpenEXR.
void RenderMemory(benchmark::State& state) {
    const RenderFolder folder("memory", rampText);
    const long imageWidth = state.range(0);
    const long imageHeight = state.range(1);
    const std::vector<std::string> command =
        folder.Command(state.range(2) ? "ramp.exr" : "ramp.png",
                       std::to_string(imageWidth) + "x" + std::to_string(imageHeight));
    long peakKiB = 0;
    try {
        for (auto _ : state)
            peakKiB = Run(command);
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
    }
    state.SetItemsProcessed(state.iterations() * imageWidth * imageHeight);
    char label[40];
    std::snprintf(label, sizeof label, "peak %.1f MiB", peakKiB / 1024.0);
    state.SetLabel(label);
}
BENCHMARK(RenderMemory)
    ->Name("Render/memory")
    ->ArgNames({"width", "height", "exr"})
    ->ArgsProduct({{4096}, {1024, 8192}, {0, 1}})
    ->ArgsProduct({{65536}, {256, 2048}, {0, 1}})
    ->Repetitions(1)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

/// The largest case, 65536 x 32768 (2^31 samples, minutes), only when VANTREL_BENCH_LARGEST is set:
/// `VANTREL_BENCH_LARGEST=1 scripts/bench.sh 2 --benchmark_filter=Render/memory`.
const bool largestRegistered = [] {
    if (std::getenv("VANTREL_BENCH_LARGEST") != nullptr) {
        benchmark::RegisterBenchmark("Render/memory", RenderMemory)
            ->ArgNames({"width", "height", "exr"})
            ->Args({65536, 32768, 0})
            ->Repetitions(1)
            ->Iterations(1)
            ->UseRealTime()
            ->Unit(benchmark::kSecond);
    }
    return true;
}();

}  // namespace
}  // namespace vantrel::bench
