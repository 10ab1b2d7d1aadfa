// libFuzzer target: the requests of `vantrel serve`, any method, target, headers and body, through the
// server's real router and handlers in process (no sockets), its previews in real preview processes.
//
// Checked besides the sanitizers: every request is answered exactly once, within a bound, even one
// whose preview hangs (given up after a while, as a client that goes away); every answer has a status
// the server documents; every refusal is a JSON error with its message, kind and code.
//
// The input: a byte choosing the method (a known one, or text of the input), one choosing the target
// (a route of the server, or text), one choosing each header (the right one, none, or text), and the
// rest the body.

#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "fuzz/fuzz_common.h"
#include "quib/stored_form.h"
#include "tools/serve/editor.h"
#include "tools/serve/preview_pool.h"
#include "tools/serve/router.h"

namespace {

using vantrel::HttpRequest;
using vantrel::HttpResponse;

constexpr int port = 8420;
constexpr const char* secret = "fuzz-secret";
/// How long a preview may take here before the server stops it, and how long the target waits for an
/// answer before it gives a preview up.
constexpr std::chrono::milliseconds previewLimit{300};
constexpr std::chrono::seconds givenUpAfter{2};
constexpr std::chrono::seconds noAnswer{20};

const char* const sceneFile = R"~({"format": "vantrel-scene/1", "output": "c",
    "nodes": [{"id": "c", "type": "Curve3", "params": {"In": {"link": "@position"}}}],
    "domain": {"kind": "plane", "min": [0, 0], "max": [2, 1]}})~";

/// The server in process: a session in a folder of its own, one preview process, and the router.
class Serving {
public:
    Serving() : work(io.get_executor()) {
        std::filesystem::create_directories(folder / "page" / "assets");
        std::ofstream(folder / "scene.json") << sceneFile;
        std::ofstream(folder / "page" / "index.html") << "<!doctype html><title>page</title>";
        std::ofstream(folder / "page" / "assets" / "index.js") << "";
        vantrel::ServeOptions options;
        options.scene = (folder / "scene.json").string();
        options.page = folder / "page";
        editor.emplace(vantrel::fuzz::TheModules(), options);
        previews.emplace(io,
                         std::vector<std::string>{VANTREL_PATH, "--module", VANTREL_MODULE_PATH, "--module",
                                                  QUIB_NODES_PATH, "preview-worker"},
                         editor->Folder().string(), 1, 4, previewLimit);
        router.emplace(*editor, *previews, vantrel::AllowedHosts("", port), secret);
        runner = std::thread([this] { io.run(); });
        static std::filesystem::path made;
        made = folder;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(made, ignored);
        });
    }

    vantrel::Router& Router() { return *router; }

    /// Removes the files saves made, now and then, so that the folder stays small.
    void Tidy() {
        if (++runs % 1000 != 0) return;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
            const std::string name = entry.path().filename().string();
            if (name != "scene.json" && name != "page") std::filesystem::remove_all(entry.path(), ignored);
        }
        std::ofstream(folder / "scene.json") << sceneFile;
    }

private:
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("fuzz-serve-" + std::to_string(::getpid()));
    boost::asio::io_context io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work;
    std::optional<vantrel::Editor> editor;
    std::optional<vantrel::PreviewPool> previews;
    std::optional<vantrel::Router> router;
    std::thread runner;
    long runs = 0;
};

Serving& TheServer() {
    static Serving* serving =
        new Serving;  // kept to the end: the preview process outlives static destructors
    return *serving;
}

/// The text of `choices[k]` for a choice byte below their count, else text of the input.
std::string Choose(FuzzedDataProvider& input, const std::vector<const char*>& choices, std::size_t most) {
    const std::size_t choice = input.ConsumeIntegralInRange<std::size_t>(0, choices.size());
    if (choice < choices.size()) return choices[choice];
    return input.ConsumeRandomLengthString(most);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    TheServer();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    HttpRequest request;
    request.method = Choose(input, {"GET", "POST", "PUT", "DELETE", "HEAD"}, 16);
    request.target =
        Choose(input,
               {"/", "/assets/index.js", "/api/types", "/api/scene", "/api/scene?file=scene.json",
                "/api/files", "/api/open", "/api/save", "/api/check", "/api/value", "/api/curve",
                "/api/gradient", "/api/render", "/?token=fuzz-secret", "/api/files?token=fuzz-secret"},
               300);
    const std::string host = "127.0.0.1:" + std::to_string(port);
    const std::pair<const char*, std::vector<const char*>> headers[] = {
        {"host", {host.c_str(), "localhost:8420", ""}},
        {"x-vantrel-token", {secret, ""}},
        {"content-type", {"application/json", "application/json; charset=utf-8", ""}},
        {"origin", {"", "http://127.0.0.1:8420", "http://evil.example"}},
        {"cookie", {"", "vantrel-token-8420=fuzz-secret"}},
    };
    for (const auto& [name, choices] : headers) {
        const std::string value = Choose(input, choices, 120);
        if (!value.empty()) request.headers.emplace_back(name, value);
    }
    request.body = input.ConsumeRemainingBytesAsString();

    std::mutex mutex;
    std::condition_variable answered;
    int answers = 0;
    HttpResponse response;
    const std::function<void()> giveUp = TheServer().Router().Answer(request, [&](HttpResponse answer) {
        std::lock_guard lock(mutex);
        ++answers;
        response = std::move(answer);
        answered.notify_all();
    });
    std::unique_lock lock(mutex);
    if (!answered.wait_for(lock, givenUpAfter, [&] { return answers > 0; }) && giveUp) {
        lock.unlock();
        giveUp();
        lock.lock();
    }
    if (!answered.wait_for(lock, noAnswer, [&] { return answers > 0; }))
        vantrel::fuzz::Broken("a request got no answer");
    lock.unlock();
    std::this_thread::yield();
    if (answers != 1) vantrel::fuzz::Broken("a request was answered " + std::to_string(answers) + " times");

    static const std::set<int> statuses = {200, 303, 400, 403, 404, 409, 412, 413, 500, 503, 504};
    if (statuses.count(response.status) == 0)
        vantrel::fuzz::Broken("an answer of status " + std::to_string(response.status));
    if (response.status >= 400) {
        try {
            const quib::Json error = quib::Json::parse(response.body);
            if (!error.at("error").is_string() || !error.at("kind").is_string() ||
                !error.at("code").is_string())
                vantrel::fuzz::Broken("a refusal without its message, kind and code");
        } catch (const quib::Json::exception&) {
            vantrel::fuzz::Broken("a refusal that is not JSON: " + response.body.substr(0, 200));
        }
    }
    TheServer().Tidy();
    return 0;
}
