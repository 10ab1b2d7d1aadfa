#pragma once
// `vantrel serve` started as a user starts it, on a free port in a test's folder, and a client that
// speaks to it as the page does; the scenes and requests the server's tests share.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/http_client.h"
#include "tests/png_image.h"
#include "tests/vantrel_run.h"

namespace vantrel::test {

using json = nlohmann::ordered_json;

/// The example scenes the tests serve and edit.
const std::filesystem::path examples = VANTREL_EXAMPLES_DIR;

/// Curve3 over the plane from (0, 0) to (2, 1), with a red S-curve, green steps and a flat blue.
const char* const gradedCurveScene = R"~({"format": "vantrel-scene/1", "output": "c",
    "nodes": [{"id": "c", "type": "Curve3", "params": {"In": {"link": "@position"}},
               "curves": {"Curve": {"red": [[0.25, 0], [0.5, 0.8], [1.5, 1]],
                                    "green": [[0, 0.25], [0.5, 0.25], [0.75, 0.75]],
                                    "blue": [[0.5, 0.5]]}}}],
    "domain": {"kind": "plane", "min": [0, 0], "max": [2, 1]}})~";

/// A table case's name as GoogleTest takes it.
template <class Info>
std::string CaseName(const Info& info) {
    std::string name = info.param.name;
    for (char& c : name) {
        if (c == '-') c = '_';
    }
    return name;
}

/// A server started on a free port in the test's folder, and a client of it.
class Serve : public VantrelTest {
protected:
    void SetUp() override {
        VantrelTest::SetUp();
        Write("curves.json", gradedCurveScene);
        for (const char* example : {"hex-lattice-plane.json", "vector-to-color.json"})
            std::filesystem::copy_file(examples / example, work / example);
    }

    void TearDown() override {
        if (server) {
            kill(server->Pid(), SIGTERM);
            server->Wait();
        }
        VantrelTest::TearDown();
    }

    /// Starts `program serve` with `arguments` and `environment` ("NAME=value") and waits for the line
    /// that gives its address: the port and the secret.
    void StartServer(const std::vector<std::string>& arguments = {"curves.json"},
                     const std::vector<std::string>& environment = {}) {
        std::vector<std::string> all = {program, "serve", "--port", "0"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        server.emplace(all, work, root / "streams", "", environment);
        const std::regex line(
            "vantrel serve: open http://[^/]+:([0-9]+)/\\?token=([-0-9a-zA-Z._~]+) in a browser\n");
        for (int wait = 0; wait < 3000 && port == 0; ++wait) {
            const std::string out = ReadFile(root / "streams" / "stdout");
            if (out.find('\n') != std::string::npos) {
                std::smatch match;
                ASSERT_TRUE(std::regex_match(out, match, line)) << out;
                port = std::stoi(match[1]);
                token = match[2];
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_NE(port, 0) << ReadFile(root / "streams" / "stderr");
    }

    /// A request with the server's secret, as the page sends one.
    HttpAnswer Call(const std::string& method, const std::string& path, const std::string& body = "",
                    Headers headers = {}) const {
        headers.emplace_back("X-Vantrel-Token", token);
        return HttpCall(port, method, path, headers, body);
    }

    /// POSTs `body` as JSON to `path`; the answer's status and body.
    std::pair<int, std::string> Post(const std::string& path, const std::string& body,
                                     const Headers& headers = {}) const {
        const HttpAnswer answer = Call("POST", path, body, headers);
        return {answer.status, answer.status < 0 ? "no answer: " + answer.error : answer.body};
    }
    std::pair<int, std::string> Get(const std::string& path, const Headers& headers = {}) const {
        const HttpAnswer answer = Call("GET", path, "", headers);
        return {answer.status, answer.status < 0 ? "no answer: " + answer.error : answer.body};
    }

    /// POSTs a request and expects success; its JSON answer.
    json Ask(const std::string& path, const json& body) const {
        const auto [status, answer] = Post(path, body.dump());
        EXPECT_EQ(status, 200) << path << ": " << answer;
        return status == 200 ? json::parse(answer) : json();
    }

    /// Expects the PNG `png` the server answered to be, sample for sample, the one `arguments` of
    /// `vantrel render` writes (to "rendered.png"), `width` x `height` and 8 bits a channel.
    void ExpectRenderOf(const std::string& png, std::vector<std::string> arguments, int width,
                        int height) const {
        WriteFile(work / "preview.png", png);
        arguments.insert(arguments.end(), {"-o", "rendered.png"});
        const RunResult run = Vantrel(arguments);
        ASSERT_EQ(run.status, 0) << run.err;
        const Decoded preview = ReadPng(work / "preview.png");
        const Decoded rendered = ReadPng(work / "rendered.png");
        EXPECT_EQ(preview.width, width);
        EXPECT_EQ(preview.height, height);
        EXPECT_EQ(preview.channels, rendered.channels);
        EXPECT_EQ(preview.depth, 8);
        EXPECT_TRUE(preview.samples == rendered.samples);
    }

    /// A scene file of the folder, parsed.
    json Scene(const std::string& name) const { return json::parse(ReadFile(work / name)); }

    /// What `vantrel eval` prints for one position.
    std::string Eval(const std::string& scene, const std::string& type, const std::string& position) const {
        const RunResult run = Vantrel({"eval", scene, "--type", type}, position + "\n");
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out.substr(0, run.out.find('\n'));
    }

    std::string program = VANTREL_PATH;  ///< the vantrel that serves
    std::optional<Process> server;
    int port = 0;
    std::string token;
};

/// A render request of `scene` for the page's tab `client`.
inline json RenderRequest(const json& scene, int width, int height, const std::string& client = "tab",
                          const std::string& job = "preview") {
    return {{"scene", scene},   {"node", nullptr},   {"type", "color"},  {"width", width},
            {"height", height}, {"region", nullptr}, {"client", client}, {"job", job}};
}

/// The fractal with two billion iterations and a radius of 0: one sample takes over a minute.
const char* const hangingScene = R"~({"format": "vantrel-scene/1", "output": "f",
    "nodes": [{"id": "f", "type": "Leapfrog fractal",
               "params": {"A": {"link": "@position"}, "Radius": 0, "Iterations": 2000000000}}],
    "domain": {"kind": "sphere"}})~";

/// The processes the server has started (its previews' processes), by their ids.
inline std::set<int> ChildrenOf(int pid) {
    std::set<int> children;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::istringstream ids(ReadFile(task.path() / "children"));
        for (int child; ids >> child;)
            children.insert(child);
    }
    return children;
}

}  // namespace vantrel::test
