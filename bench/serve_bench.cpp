// The editor's loop, timed as the page sees it: from an edit of a scene to the image of the edited scene
// back from `vantrel serve`, for every example scene. An edit moves one number of the scene (the first
// one of its nodes that is not whole: a parameter, a curve point's y, a colour) by 1/1024 and back on
// the next iteration, so every request renders a scene the preview's process has not built yet, as
// after any edit. Each iteration is one POST /api/render, timed from sending to the last byte of the
// PNG:
//
//   Serve/coarse/SCENE  the first, coarse preview, 128 x 64
//   Serve/full/SCENE    the full preview, 1024 x 512
//   Serve/render/SCENE  `vantrel render` of the same scene at 1024 x 512, started as a user starts it,
//                       which the full preview should be as fast as
//
// The server runs on the machine's cores, as `vantrel render` does.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/bench_support.h"
#include "tests/http_client.h"

namespace vantrel::bench {
namespace {

using json = nlohmann::ordered_json;

/// `vantrel serve` of a new scene in a folder of its own, started at the first benchmark that needs it
/// and ended with the program.
class Server {
public:
    static Server& Get() {
        static Server server;
        return server;
    }
    ~Server() {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        std::filesystem::remove_all(folder);
    }

    const std::filesystem::path& Folder() const { return folder; }
    int Port() const { return port; }
    const std::string& Token() const { return token; }

private:
    Server() {
        std::filesystem::create_directories(folder);
        const std::filesystem::path out = folder / "stdout";
        pid = Spawn({VANTREL_PATH, "serve", "--port", "0", "--module", VANTREL_MODULE_PATH}, out.string());
        const std::string prefix = "vantrel serve: open http://127.0.0.1:";
        for (int wait = 0; wait < 1000 && port == 0; ++wait) {
            std::ifstream file(out);
            const std::string line{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
            if (line.find('\n') != std::string::npos) {
                port = std::stoi(line.substr(prefix.size()));
                const std::size_t at = line.find("token=") + 6;
                token = line.substr(at, line.find(' ', at) - at);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (port == 0) throw std::runtime_error("vantrel serve did not start");
    }

    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("vantrel-serve-bench-" + std::to_string(::getpid()));
    int pid = 0;
    int port = 0;
    std::string token;
};

/// The first number of `value` that is not whole, depth first; null when it holds none.
json* FirstReal(json& value) {
    if (value.is_number_float() &&
        value.get<double>() != static_cast<double>(static_cast<long>(value.get<double>())))
        return &value;
    if (!value.is_structured()) return nullptr;
    for (json& item : value) {
        if (json* found = FirstReal(item)) return found;
    }
    return nullptr;
}

/// Renders the scene of `file` at `width` x `height` through the server, an edit before each request.
void Preview(benchmark::State& state, const std::filesystem::path& file, int width, int height) {
    json scene = json::parse(std::ifstream(file));
    json* edited = FirstReal(scene["nodes"]);
    const double original = edited ? edited->get<double>() : 0.0;
    long count = 0;
    for (auto _ : state) {
        if (edited) *edited = original + (count++ % 2 == 0 ? 1.0 / 1024 : 0.0);
        const json request = {{"scene", scene},    {"node", nullptr},  {"type", "color"},
                              {"width", width},    {"height", height}, {"region", nullptr},
                              {"client", "bench"}, {"job", "preview"}};
        const test::HttpAnswer answer =
            test::HttpCall(Server::Get().Port(), "POST", "/api/render",
                           {{"X-Vantrel-Token", Server::Get().Token()}}, request.dump());
        if (answer.status != 200) {
            state.SkipWithError(answer.status < 0 ? answer.error.c_str() : answer.body.c_str());
            break;
        }
        benchmark::DoNotOptimize(answer.body.data());
    }
    state.SetItemsProcessed(state.iterations() * width * height);
}

void RenderFile(benchmark::State& state, const std::filesystem::path& file) {
    const std::filesystem::path image = Server::Get().Folder() / (file.stem().string() + ".png");
    for (auto _ : state) {
        const int child = Spawn({VANTREL_PATH, "render", file.string(), "-o", image.string(), "--size",
                                 "1024x512", "--module", VANTREL_MODULE_PATH});
        int status = 0;
        if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("vantrel render failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * 1024 * 512);
}

/// One benchmark of each kind for every example scene.
const bool registered = [] {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(VANTREL_EXAMPLES_DIR)) {
        if (entry.path().extension() == ".json") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const std::filesystem::path& file : files) {
        const std::string name = file.stem().string();
        benchmark::RegisterBenchmark(("Serve/coarse/" + name).c_str(),
                                     [file](benchmark::State& state) { Preview(state, file, 128, 64); })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Serve/full/" + name).c_str(),
                                     [file](benchmark::State& state) { Preview(state, file, 1024, 512); })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Serve/render/" + name).c_str(),
                                     [file](benchmark::State& state) { RenderFile(state, file); })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

}  // namespace
}  // namespace vantrel::bench
