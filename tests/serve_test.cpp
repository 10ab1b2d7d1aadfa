// `vantrel serve` run as a user runs it, spoken to over HTTP as the page speaks to it: every endpoint with
// good input against what `list`, `eval` and `render` give for the same scene, and with hostile input
// (other hosts and origins, bodies too large or malformed, fields of the wrong type, files outside the
// scene's folder, a thousand requests at once), which must be refused with the right status and leave
// the server answering.

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/png_image.h"
#include "tests/serve_fixture.h"

namespace vantrel::test {
namespace {

TEST_F(Serve, TypesAreWhatListGives) {
    StartServer();
    const auto [status, body] = Get("/api/types");
    ASSERT_EQ(status, 200);
    const RunResult list = Vantrel({"list", "--json"});
    ASSERT_EQ(list.status, 0);
    json types = json::parse(body);
    const json render = types["render"];
    types.erase("render");
    EXPECT_EQ(types, json::parse(list.out));
    // The page offers what the command line takes: every type an image can be rendered as, and only those.
    for (const json& type : render["outputTypes"]) {
        const RunResult run =
            Vantrel({"render", "curves.json", "--size", "2", "--type", type["name"], "-o", "t.png"});
        EXPECT_EQ(run.status == 0, type["image"].get<bool>()) << type << run.err;
    }
}

TEST_F(Serve, SceneIsTheStartedFileOrANewOne) {
    StartServer();
    const auto [status, body] = Get("/api/scene");
    ASSERT_EQ(status, 200);
    const json answer = json::parse(body);
    EXPECT_EQ(answer["file"], "curves.json");
    EXPECT_EQ(answer["scene"], Scene("curves.json"));
    EXPECT_TRUE(answer["revision"].is_string()) << body;
    // As the file is now, not as it was when the server started.
    json changed = Scene("curves.json");
    changed["description"] = "changed on the disk";
    Write("curves.json", changed.dump());
    const json now = json::parse(Get("/api/scene").second);
    EXPECT_EQ(now["scene"], changed);
    EXPECT_NE(now["revision"], answer["revision"]);

    // Without a scene: a new one, not yet any file's, that loads.
    TearDown();
    SetUp();
    port = 0;
    StartServer({});
    const auto [newStatus, newBody] = Get("/api/scene");
    ASSERT_EQ(newStatus, 200);
    const json started = json::parse(newBody);
    EXPECT_TRUE(started["file"].is_null());
    EXPECT_EQ(started["scene"]["nodes"][0]["type"], "Hexagonal lattice 3D(1)");
    EXPECT_EQ(Ask("/api/check", {{"scene", started["scene"]}}), json({{"ok", true}}));
}

TEST_F(Serve, FilesAreThePlainSceneFilesOfTheFolder) {
    Write("notes.txt", "not a scene");
    Write(".hidden.json", "{}");
    std::filesystem::create_directory(work / "folder.json");
    std::filesystem::create_symlink(work / "curves.json", work / "link.json");
    Write("caf\xe9.json", gradedCurveScene);  // Latin-1, as an older system names it: not UTF-8
    StartServer();
    const auto [status, body] = Get("/api/files");
    ASSERT_EQ(status, 200);
    EXPECT_EQ(json::parse(body),
              json({{"files", {"curves.json", "hex-lattice-plane.json", "vector-to-color.json"}},
                    {"unopenable", {"caf\\xe9.json"}}}));
}

/// A scene the loader refuses, as a file `vantrel render` reads and as a request's scene.
struct BadScene {
    const char* name;
    const char* scene;
    const char* pointer;  ///< the JSON Pointer the answer names; empty: none
    const char* code;     ///< the code the answer gives, which names what went wrong
    /// Where the request's body, not its scene, is at fault: part of the message; null: render's message.
    const char* bodyMessage = nullptr;
};

const BadScene badScenes[] = {
    {"wrong-type",
     R"~({"format": "vantrel-scene/1", "nodes": [{"id": "c", "type": "Curve3", "params": {"In": 5}}],
        "output": "c"})~",
     "/nodes/0/params/In", "wrong-type"},
    {"out-of-range",
     R"~({"format": "vantrel-scene/1", "nodes": [{"id": "l", "type": "Hexagonal lattice 3D(1)",
        "params": {"(2=plane, 3=sphere)(how to make list box]": 4}}], "output": "l"})~",
     "/nodes/0/params/(2=plane, 3=sphere)(how to make list box]", "out-of-range"},
    {"cycle", R"~({"format": "vantrel-scene/1", "nodes": [
        {"id": "a", "type": "Curve3", "params": {"In": {"link": "b"}}},
        {"id": "b", "type": "Curve3", "params": {"In": {"link": "a"}}}], "output": "a"})~",
     "/nodes/0/params/In/link", "bad-link"},
    {"unknown-output",
     R"~({"format": "vantrel-scene/1", "nodes": [{"id": "c", "type": "Curve3"}], "output": "d"})~", "/output",
     "unknown-node"},
    {"unknown-type",
     R"~({"format": "vantrel-scene/1", "nodes": [{"id": "c", "type": "Curve4"}], "output": "c"})~",
     "/nodes/0/type", "unknown-type"},
    {"unknown-param",
     R"~({"format": "vantrel-scene/1", "nodes": [{"id": "c", "type": "Curve3", "params": {"Out": 1}}],
        "output": "c"})~",
     "/nodes/0/params/Out", "unknown-member"},
    {"no-format", R"~({"nodes": [{"id": "c", "type": "Curve3"}], "output": "c"})~", "/format", "missing"},
    {"curve-order", R"~({"format": "vantrel-scene/1", "nodes": [{"id": "c", "type": "Curve3",
        "curves": {"Curve": {"red": [[0.5, 0], [0.25, 1]]}}}], "output": "c"})~",
     "/nodes/0/curves/Curve/red/1/0", "not-increasing"},
    {"stop-order", R"~({"format": "vantrel-scene/1", "nodes": [{"id": "g", "type": "Gradient map",
        "gradients": {"Gradient": [[0.5, [0, 0, 0]], [0.5, [1, 1, 1]]]}}], "output": "g"})~",
     "/nodes/0/gradients/Gradient/1/0", "not-increasing"},
    // The scene goes in a request body as a JSON value, so a key given twice is refused as the body's.
    {"key-twice", R"~({"format": "vantrel-scene/1", "nodes": [{"id": "c", "type": "Curve3"}], "output": "c",
        "output": "c"})~",
     "/output", "duplicate", "scene: /output: expected each key once"},
    {"not-json", R"~({"format": "vantrel-scene/1", "nodes": [})~", "", "not-json", "malformed JSON"},
    {"not-an-object", R"~([1, 2])~", "", "wrong-type",
     R"~(request: "scene": expected a scene, an object in the scene-file format, not [1,2])~"},
};

void PrintTo(const BadScene& bad, std::ostream* out) {
    *out << bad.name;
}

class BadScenes : public Serve, public ::testing::WithParamInterface<BadScene> {};

TEST_P(BadScenes, AreRefusedWithTheLoadersMessagePathAndCode) {
    const BadScene& bad = GetParam();
    // `render` of a file named as the server names a request's scene gives the message to expect.
    Write("scene", bad.scene);
    const RunResult render = Vantrel({"render", "scene", "-o", "scene.png"});
    ASSERT_EQ(render.status, 2);
    // The request's scene stands in no file: its message names no line and column.
    const std::string message =
        std::regex_replace(render.err.substr(std::string("vantrel: ").size(),
                                             render.err.size() - std::string("vantrel: \n").size()),
                           std::regex("line [0-9]+, column [0-9]+: "), "");
    StartServer();
    const std::string body = std::string("{\"scene\": ") + bad.scene + "}";
    const auto [status, answer] = Post("/api/check", body);
    EXPECT_EQ(status, 400) << answer;
    const json error = json::parse(answer);
    if (bad.bodyMessage) {
        EXPECT_NE(error["error"].get<std::string>().find(bad.bodyMessage), std::string::npos) << answer;
    } else {
        EXPECT_EQ(error["error"], message);
    }
    EXPECT_EQ(error["kind"], "bad-input") << answer;
    EXPECT_EQ(error["code"], bad.code) << answer;
    if (*bad.pointer != '\0') {
        EXPECT_EQ(error.value("pointer", ""), bad.pointer) << answer;
    } else {
        EXPECT_FALSE(error.contains("pointer")) << answer;
    }
}

INSTANTIATE_TEST_SUITE_P(Serve, BadScenes, ::testing::ValuesIn(badScenes),
                         CaseName<::testing::TestParamInfo<BadScene>>);

/// The nine types a value is asked in, as `--type` names them.
const char* const typeNames[] = {"string", "colora", "color",  "quaternion", "vec4",
                                 "vec3",   "vec2",   "double", "int"};

TEST_F(Serve, ValueIsWhatEvalPrintsAtThePixelCentre) {
    StartServer();
    const json scene = Scene("curves.json");
    // An 8x4 image of the plane (0, 0) .. (2, 1): the centre of pixel (3, 1) is (0.875, 0.625); of the
    // region (0, 0) .. (4, 2), (1.75, 1.25). Every figure is exact in binary.
    const struct {
        json region;
        std::vector<double> position;
        const char* evalInput;
    } places[] = {{json(), {0.875, 0.625, 0.0}, "0.875 0.625 0"},
                  {json({0, 0, 4, 2}), {1.75, 1.25, 0.0}, "1.75 1.25 0"}};
    for (const auto& place : places) {
        for (const char* type : typeNames) {
            SCOPED_TRACE(type);
            const json answer = Ask("/api/value", {{"scene", scene},
                                                   {"node", "c"},
                                                   {"type", type},
                                                   {"width", 8},
                                                   {"height", 4},
                                                   {"region", place.region},
                                                   {"x", 3},
                                                   {"y", 1},
                                                   {"client", "tab"}});
            EXPECT_EQ(answer["position"], json(place.position));
            EXPECT_EQ(answer["text"], Eval("curves.json", type, place.evalInput));
        }
    }
}

/// The numbers of an eval line.
std::vector<double> Numbers(const std::string& line) {
    std::vector<double> numbers;
    std::istringstream words(line);
    for (std::string word; words >> word;)
        numbers.push_back(std::strtod(word.c_str(), nullptr));
    return numbers;
}

TEST_F(Serve, CurveSamplesAreWhatTheNodeReads) {
    StartServer();
    const json scene = Scene("curves.json");
    const json answer =
        Ask("/api/curve", {{"scene", scene}, {"node", "c"}, {"curve", "Curve"}, {"samples", 9}});
    EXPECT_EQ(answer["form"], "rgb");
    EXPECT_EQ(answer["inputRange"], json({0.0, 1.0}));
    // Over the input range 0 .. 1 and the points' 0 .. 1.5: steps of 1.5 / 8, exact in binary.
    std::vector<double> x;
    for (int i = 0; i <= 8; ++i)
        x.push_back(1.5 * i / 8);
    ASSERT_EQ(answer["x"], json(x));
    const json& curves = scene["nodes"][0]["curves"]["Curve"];
    EXPECT_EQ(answer["points"], json({curves["red"], curves["green"], curves["blue"]}));
    // Curve3 reads its input's red through the red curve, and so on: its colour at a position whose
    // components are all x is the three curves at x.
    ASSERT_EQ(answer["channels"].size(), 3u);
    for (std::size_t i = 0; i < x.size(); ++i) {
        char position[100];
        std::snprintf(position, sizeof position, "%.17g %.17g %.17g", x[i], x[i], x[i]);
        const std::vector<double> colour = Numbers(Eval("curves.json", "color", position));
        ASSERT_EQ(colour.size(), 3u);
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_EQ(answer["channels"][channel][i].get<double>(), colour[channel]) << x[i];
    }

    // A grey curve: one channel, its points as the scene gives them.
    const json lattice = Ask(
        "/api/curve",
        {{"scene", Scene("hex-lattice-plane.json")}, {"node", "lattice"}, {"curve", "W2"}, {"samples", 2}});
    EXPECT_EQ(lattice["form"], "grey");
    EXPECT_EQ(lattice["x"], json({0.5, 1.0}));
    EXPECT_EQ(lattice["points"], json({Scene("hex-lattice-plane.json")["nodes"][0]["curves"]["W2"]}));
    EXPECT_EQ(lattice["channels"], json({{0.5, 0.0}}));
}

TEST_F(Serve, GradientColoursAreWhatTheNodeLooksUp) {
    StartServer();
    // With the weights (1, 0, 0, 0) vector to color gives the X gradient's colour at the position's x.
    json scene = Scene("vector-to-color.json");
    scene["nodes"][0]["params"]["Weights"] = {1, 0, 0, 0};
    scene["nodes"][0]["gradients"]["X color"] = {{-0.5, {0, 0, 0}}, {0.25, {1, 0.5, 0}}, {0.75, {0, 1, 1}}};
    Write("weighted.json", scene.dump());
    const json answer =
        Ask("/api/gradient", {{"scene", scene}, {"node", "paint"}, {"gradient", "X color"}, {"samples", 7}});
    // Over the stops' -0.5 .. 0.75 and 0 .. 1: steps of 0.25.
    const std::vector<double> x = {-0.5, -0.25, 0.0, 0.25, 0.5, 0.75, 1.0};
    ASSERT_EQ(answer["x"], json(x));
    EXPECT_EQ(answer["stops"], scene["nodes"][0]["gradients"]["X color"]);
    for (std::size_t i = 0; i < x.size(); ++i) {
        char position[100];
        std::snprintf(position, sizeof position, "%.17g 0 0", x[i]);
        const std::vector<double> colour = Numbers(Eval("weighted.json", "color", position));
        EXPECT_EQ(answer["colours"][i], json(colour)) << x[i];
    }
}

/// Leapfrog of Radius 0, which never stops before its iterations: tens of milliseconds a sample, and
/// minutes for an image of a sample a row.
const char* const slowScene = R"~({"format": "vantrel-scene/1", "output": "f",
    "nodes": [{"id": "f", "type": "Leapfrog fractal",
               "params": {"A": {"link": "@position"}, "Radius": 0, "Iterations": 20000000}}],
    "domain": {"kind": "sphere"}})~";

/// A request that is refused, and how.
struct Refusal {
    const char* name;
    const char* path;
    json body;
    int status;
    const char* message;  ///< a part of the error's text
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
    *out << refusal.name;
}

/// A request of `path` with `scene` and these fields, the rest of a good request of its kind.
json RequestWith(const std::string& path, const json& fields) {
    json body = json::parse(gradedCurveScene);
    json request = {{"scene", body}};
    if (path == "/api/value")
        request.update({{"node", nullptr},
                        {"type", "color"},
                        {"width", 8},
                        {"height", 4},
                        {"region", nullptr},
                        {"x", 0},
                        {"y", 0},
                        {"client", "tab"}});
    if (path == "/api/curve") request.update({{"node", "c"}, {"curve", "Curve"}, {"samples", 4}});
    if (path == "/api/render")
        request.update({{"node", nullptr},
                        {"type", "color"},
                        {"width", 8},
                        {"height", 4},
                        {"region", nullptr},
                        {"client", "tab"},
                        {"job", "preview"}});
    if (path == "/api/gradient") request.update({{"node", "c"}, {"gradient", "X color"}, {"samples", 4}});
    for (const auto& [key, value] : fields.items()) {
        if (value == "(absent)") {
            request.erase(key);
        } else {
            request[key] = value;
        }
    }
    return request;
}

const Refusal refusals[] = {
    {"scene-absent",
     "/api/check",
     {{"scene", "(absent)"}},
     400,
     R"("scene": expected a scene, an object in the scene-file format, which is missing)"},
    {"scene-string", "/api/check", {{"scene", "{}"}}, 400, R"("scene": expected a scene)"},
    {"type-unknown",
     "/api/value",
     {{"type", "colour"}},
     400,
     R"("type": expected one of string, colora, color)"},
    {"type-number", "/api/value", {{"type", 2}}, 400, R"("type": expected one of)"},
    {"width-zero",
     "/api/value",
     {{"width", 0}},
     400,
     R"("width": expected a whole number from 1 to 4096, not 0)"},
    {"width-large",
     "/api/value",
     {{"width", 4097}},
     400,
     R"("width": expected a whole number from 1 to 4096)"},
    {"width-real", "/api/value", {{"width", 8.5}}, 400, R"("width": expected a whole number)"},
    {"width-huge",
     "/api/value",
     {{"width", 18446744073709551615ull}},
     400,
     R"("width": expected a whole number)"},
    {"width-text", "/api/value", {{"width", "8"}}, 400, R"("width": expected a whole number)"},
    {"x-outside", "/api/value", {{"x", 8}}, 400, R"("x": expected a whole number from 0 to 7, not 8)"},
    {"y-negative", "/api/value", {{"y", -1}}, 400, R"("y": expected a whole number from 0 to 3)"},
    {"node-unknown",
     "/api/value",
     {{"node", "d"}},
     400,
     R"("node": expected the id of a node of the scene, not "d")"},
    {"node-number", "/api/value", {{"node", 1}}, 400, R"("node": expected a string or null, not 1)"},
    {"region-three",
     "/api/value",
     {{"region", {0, 0, 1}}},
     400,
     R"("region": expected null or four numbers)"},
    {"region-text", "/api/value", {{"region", "0,0,1,1"}}, 400, R"("region": expected null or four numbers)"},
    {"region-reversed",
     "/api/value",
     {{"region", {1, 0, 0, 1}}},
     400,
     R"("region": expected A below C and B below D)"},
    {"window-three",
     "/api/render",
     {{"window", {0, 0, 1}}},
     400,
     R"("window": expected null or four whole numbers [x, y, w, h])"},
    {"window-outside",
     "/api/render",
     {{"window", {4, 0, 5, 4}}},
     400,
     R"(request: "window": expected a window X,Y,W,H of the 8x4 image)"},
    {"curve-unknown",
     "/api/curve",
     {{"curve", "W1"}},
     400,
     R"("curve": expected a curve of the node, not "W1")"},
    {"curve-null-node", "/api/curve", {{"node", nullptr}}, 400, R"("node": expected a string, not null)"},
    {"samples-one",
     "/api/curve",
     {{"samples", 1}},
     400,
     R"("samples": expected a whole number from 2 to 1024)"},
    {"samples-many",
     "/api/curve",
     {{"samples", 1025}},
     400,
     R"("samples": expected a whole number from 2 to 1024)"},
    {"gradient-unknown",
     "/api/gradient",
     {},
     400,
     R"("gradient": expected a gradient of the node, not "X color")"},
    {"render-string",
     "/api/render",
     {{"type", "string"}},
     400,
     R"("type": an image needs a numeric output type, not string)"},
    {"render-area",
     "/api/render",
     {{"width", 4096}, {"height", 4096}},
     400,
     "expected an image of at most 8388608 pixels, not 4096x4096"},
    {"render-height",
     "/api/render",
     {{"height", 0}},
     400,
     R"("height": expected at least 1 pixel high, not 0)"},
    {"render-no-client",
     "/api/render",
     {{"client", "(absent)"}},
     400,
     R"("client": expected a string, which is missing)"},
    {"render-job-number", "/api/render", {{"job", 1}}, 400, R"("job": expected a string, not 1)"},
    {"render-sphere-region",
     "/api/render",
     {{"scene", json::parse(slowScene)}, {"region", {-200, 0, 0, 10}}},
     400,
     "the scene's domain is the sphere"},
    {"open-parent",
     "/api/open",
     {{"file", "../curves.json"}},
     403,
     "expected a plain file name ending in .json"},
    {"open-absolute", "/api/open", {{"file", "/etc/passwd"}}, 403, "expected a plain file name"},
    {"open-missing",
     "/api/open",
     {{"file", "none.json"}},
     404,
     "none.json: cannot read the file: there is no such file"},
    {"open-number", "/api/open", {{"file", 3}}, 400, R"("file": expected a string, not 3)"},
    {"save-parent",
     "/api/save",
     {{"file", "../curves.json"}},
     403,
     "expected a plain file name ending in .json"},
    {"save-absolute", "/api/save", {{"file", "/tmp/x.json"}}, 403, "expected a plain file name"},
    {"save-folder", "/api/save", {{"file", "sub/x.json"}}, 403, "expected a plain file name"},
    {"save-backslash", "/api/save", {{"file", "..\\x.json"}}, 403, "expected a plain file name"},
    {"save-hidden", "/api/save", {{"file", ".x.json"}}, 403, "expected a plain file name"},
    {"save-not-json", "/api/save", {{"file", "x.png"}}, 403, "ending in .json"},
    {"save-bare-suffix", "/api/save", {{"file", ".json"}}, 403, "expected a plain file name"},
    {"save-other-file", "/api/save", {{"file", "vector-to-color.json"}}, 403, "was not opened here"},
    {"save-bad-scene",
     "/api/save",
     {{"file", "new.json"}, {"scene", {{"format", "vantrel-scene/1"}}}},
     400,
     "scene: /nodes: expected a list"},
};

class Refusals : public Serve, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, NameTheFieldAndChangeNothing) {
    const Refusal& refusal = GetParam();
    StartServer();
    const auto before = WorkFiles();
    const std::string curves = ReadFile(work / "curves.json");
    const auto [status, answer] = Post(refusal.path, RequestWith(refusal.path, refusal.body).dump());
    EXPECT_EQ(status, refusal.status) << answer;
    EXPECT_NE(json::parse(answer)["error"].get<std::string>().find(refusal.message), std::string::npos)
        << answer;
    EXPECT_EQ(WorkFiles(), before);
    EXPECT_EQ(ReadFile(work / "curves.json"), curves);
    EXPECT_EQ(Get("/api/files").first, 200);  // still serving
}

INSTANTIATE_TEST_SUITE_P(Serve, Refusals, ::testing::ValuesIn(refusals),
                         CaseName<::testing::TestParamInfo<Refusal>>);

/// A request the server must refuse before it reads it. In a header's value PORT stands for the server's
/// port, TOKEN for its secret and SHORT for the secret but its last character; without a header that
/// names the secret, the request carries it as the page does.
struct Hostile {
    const char* name;
    const char* method;
    const char* path;
    Headers headers;
    std::string body;
    const char* contentType;
    int status;
};

void PrintTo(const Hostile& hostile, std::ostream* out) {
    *out << hostile.name;
}

const std::string goodCheck = std::string("{\"scene\": ") + gradedCurveScene + "}";

const Hostile hostiles[] = {
    {"host-other", "GET", "/api/scene", {{"Host", "evil.example:80"}}, "", "", 403},
    // A name of another site that resolves to 127.0.0.1 reaches the server with the port it listens on.
    {"host-rebound", "GET", "/api/scene", {{"Host", "rebind.example:PORT"}}, "", "", 403},
    {"host-other-port", "GET", "/api/scene", {{"Host", "127.0.0.1:1"}}, "", "", 403},
    {"host-without-port", "GET", "/api/scene", {{"Host", "localhost"}}, "", "", 403},
    {"origin-other",
     "POST",
     "/api/check",
     {{"Origin", "http://evil.example"}},
     goodCheck,
     "application/json",
     403},
    {"origin-null", "POST", "/api/check", {{"Origin", "null"}}, goodCheck, "application/json", 403},
    {"origin-https",
     "POST",
     "/api/check",
     {{"Origin", "https://127.0.0.1:PORT"}},
     goodCheck,
     "application/json",
     403},
    {"origin-other-port", "GET", "/api/files", {{"Origin", "http://localhost:1"}}, "", "", 403},
    {"origin-suffix", "GET", "/api/files", {{"Origin", "http://127.0.0.1:PORT.evil.example"}}, "", "", 403},
    {"save-from-other-origin",
     "POST",
     "/api/save",
     {{"Origin", "http://evil.example"}},
     goodCheck,
     "application/json",
     403},
    {"form-post", "POST", "/api/check", {}, goodCheck, "text/plain", 400},
    {"body-too-large",
     "POST",
     "/api/check",
     {},
     std::string(std::size_t{5} << 20, ' '),
     "application/json",
     413},
    {"body-malformed", "POST", "/api/check", {}, "{\"scene\": ", "application/json", 400},
    {"body-list", "POST", "/api/check", {}, "[]", "application/json", 400},
    {"body-nul", "POST", "/api/check", {}, std::string("{\"scene\": \"\0\"}", 14), "application/json", 400},
    {"body-deep",
     "POST",
     "/api/check",
     {},
     std::string(100000, '[') + std::string(100000, ']'),
     "application/json",
     400},
    {"body-empty", "POST", "/api/check", {}, "", "application/json", 400},
    {"no-such-api", "GET", "/api/nothing", {}, "", "", 404},
    {"method-other", "DELETE", "/api/files", {}, "", "", 404},
    // The secret: none, another, or one of another length, however it is carried.
    {"token-none", "GET", "/api/files", {{"X-Vantrel-Token", ""}}, "", "", 403},
    {"token-other", "GET", "/api/files", {{"X-Vantrel-Token", std::string(64, 'a')}}, "", "", 403},
    {"token-prefix", "GET", "/api/files", {{"X-Vantrel-Token", "SHORT"}}, "", "", 403},
    // A cookie is no credential: a browser sends one to every port of the machine.
    {"token-in-cookie",
     "GET",
     "/api/files",
     {{"X-Vantrel-Token", ""}, {"Cookie", "vantrel-token-PORT=TOKEN"}},
     "",
     "",
     403},
    {"token-query-other", "GET", "/api/files?token=abc", {{"X-Vantrel-Token", ""}}, "", "", 403},
    // Headers that two parties between browser and server could read differently; a query that cannot
    // be read is not taken as absent.
    {"host-twice", "GET", "/api/files", {{"Host", "127.0.0.1:PORT"}, {"Host", "evil.example"}}, "", "", 400},
    {"token-twice",
     "GET",
     "/api/files",
     {{"X-Vantrel-Token", "TOKEN"}, {"X-Vantrel-Token", "TOKEN"}},
     "",
     "",
     400},
    {"file-escape-malformed", "GET", "/api/scene?file=%zz.json", {}, "", "", 400},
    {"file-not-utf8", "GET", "/api/scene?file=%FF.json", {}, "", "", 403},
    // What is not UTF-8 is refused as such, before anything is looked up.
    {"host-not-utf8", "GET", "/api/files", {{"Host", "127.0.0.1\xff:PORT"}}, "", "", 400},
    {"path-not-utf8", "GET", "/assets/\xc0\xaf", {}, "", "", 400},
    {"static-parent", "GET", "/assets/../index.html", {}, "", "", 404},
    {"static-encoded-parent", "GET", "/assets/%2e%2e/%2e%2e/bin/vantrel", {}, "", "", 404},
    {"static-outside", "GET", "/etc/passwd", {}, "", "", 404},
    {"static-doubled", "GET", "/assets//etc/passwd", {}, "", "", 404},
};

class Hostiles : public Serve, public ::testing::WithParamInterface<Hostile> {};

TEST_P(Hostiles, AreRefusedWithAJsonError) {
    const Hostile& hostile = GetParam();
    StartServer();
    Headers headers;
    bool secret = false;
    for (auto [key, value] : hostile.headers) {
        for (const auto& [mark, by] : {std::pair<std::string, std::string>{"PORT", std::to_string(port)},
                                       {"TOKEN", token},
                                       {"SHORT", token.substr(0, token.size() - 1)}}) {
            if (const std::size_t at = value.find(mark); at != std::string::npos)
                value.replace(at, mark.size(), by);
        }
        secret = secret || key == "X-Vantrel-Token";
        if (!value.empty()) headers.emplace_back(key, value);
    }
    if (!secret) headers.emplace_back("X-Vantrel-Token", token);
    if (*hostile.contentType) headers.emplace_back("Content-Type", hostile.contentType);
    const HttpAnswer answer = HttpCall(port, hostile.method, hostile.path, headers, hostile.body);
    ASSERT_GE(answer.status, 0) << answer.error;
    EXPECT_EQ(answer.status, hostile.status) << answer.body;
    EXPECT_TRUE(json::parse(answer.body).contains("error")) << answer.body;
    EXPECT_EQ(Get("/api/files").first, 200);  // still serving
}

INSTANTIATE_TEST_SUITE_P(Serve, Hostiles, ::testing::ValuesIn(hostiles),
                         CaseName<::testing::TestParamInfo<Hostile>>);

TEST_F(Serve, AcceptsItsOwnNamesAndOrigins) {
    StartServer();
    const std::string port = std::to_string(this->port);
    for (const Headers& headers :
         {Headers{{"Host", "127.0.0.1:" + port}}, Headers{{"Host", "LOCALHOST:" + port}},
          Headers{{"Origin", "http://127.0.0.1:" + port}}, Headers{{"Origin", "http://localhost:" + port}}}) {
        EXPECT_EQ(Post("/api/check", goodCheck, headers).first, 200);
    }
}

TEST_F(Serve, SaveWritesTheStartedFileOrANewOneThatRenders) {
    StartServer();
    json scene = Scene("curves.json");
    const std::string revision = json::parse(Get("/api/scene").second)["revision"];
    scene["nodes"][0]["curves"]["Curve"]["blue"] = {{0, 1}};
    const json saved = Ask("/api/save", {{"scene", scene}, {"file", nullptr}, {"revision", revision}});
    EXPECT_EQ(saved["file"], "curves.json");
    EXPECT_EQ(Scene("curves.json"), scene);  // keys in the order sent
    EXPECT_EQ(Ask("/api/save", {{"scene", scene}, {"file", "copy.json"}})["file"], "copy.json");
    EXPECT_EQ(Scene("copy.json"), scene);
    // Once created here, it may be replaced, at the revision it has; a file opened here too.
    const json again =
        Ask("/api/save", {{"scene", scene}, {"file", "curves.json"}, {"revision", saved["revision"]}});
    EXPECT_EQ(again["revision"], saved["revision"]) << "the same bytes, the same revision";
    const json opened = Ask("/api/open", {{"file", "vector-to-color.json"}});
    EXPECT_EQ(opened["scene"], Scene("vector-to-color.json"));
    EXPECT_EQ(
        Ask("/api/save",
            {{"scene", scene}, {"file", "vector-to-color.json"}, {"revision", opened["revision"]}})["file"],
        "vector-to-color.json");
    EXPECT_EQ(Vantrel({"render", "copy.json", "--size", "8x4"}).status, 0);
    EXPECT_EQ(WorkFiles(), (std::vector<std::string>{"copy.json", "copy.png", "curves.json",
                                                     "hex-lattice-plane.json", "vector-to-color.json"}));
}

// A save never overwrites a change it has not seen: another program's, or another tab's save.
TEST_F(Serve, SaveOfAFileChangedSinceItWasReadIsRefused) {
    StartServer();
    const json read = json::parse(Get("/api/scene").second);
    json mine = read["scene"];
    mine["description"] = "mine";
    const std::string theirs = R"({"format": "vantrel-scene/1", "description": "theirs", "output": "c",
        "nodes": [{"id": "c", "type": "Curve3"}]})";
    Write("curves.json", theirs);
    const struct {
        const char* what;
        json fields;
        int status;
    } saves[] = {
        {"at the revision read", {{"revision", read["revision"]}}, 412},
        {"without a revision", {{"revision", nullptr}}, 412},
        {"at the revision now", {{"revision", json::parse(Get("/api/scene").second)["revision"]}}, 200},
    };
    for (const auto& save : saves) {
        SCOPED_TRACE(save.what);
        Write("curves.json", theirs);
        json body = {{"scene", mine}, {"file", "curves.json"}};
        body.update(save.fields);
        const auto [status, answer] = Post("/api/save", body.dump());
        EXPECT_EQ(status, save.status) << answer;
        if (status == 412) {
            EXPECT_EQ(json::parse(answer)["code"], "file-changed");
            EXPECT_EQ(ReadFile(work / "curves.json"), theirs) << "their change is kept";
        } else {
            EXPECT_EQ(Scene("curves.json"), mine);
        }
    }
    // The user may say to overwrite it anyway.
    Write("curves.json", theirs);
    EXPECT_EQ(
        Post("/api/save", json({{"scene", mine}, {"file", "curves.json"}, {"force", true}}).dump()).first,
        200);
    EXPECT_EQ(Scene("curves.json"), mine);
}

// A name as long as the file system takes (255 bytes) can be saved: the temporary file's name is short.
TEST_F(Serve, SaveTakesNamesUpToTheFileSystemsLimit) {
    StartServer();
    const json scene = Scene("curves.json");
    for (const std::size_t length : {240, 255}) {
        const std::string name = std::string(length - 5, 'n') + ".json";
        SCOPED_TRACE(length);
        EXPECT_EQ(Ask("/api/save", {{"scene", scene}, {"file", name}})["file"], name);
        EXPECT_EQ(Scene(name), scene);
    }
}

TEST_F(Serve, SaveAndOpenLeaveLinksAlone) {
    Write("outside.json", gradedCurveScene);
    std::filesystem::create_directory(work / "folder");
    std::filesystem::rename(work / "curves.json", work / "folder" / "curves.json");
    std::filesystem::create_symlink(work / "outside.json", work / "folder" / "link.json");
    StartServer({"folder/curves.json"});
    const std::string body = RequestWith("/api/save", {{"file", "link.json"}}).dump();
    const auto [saveStatus, saveAnswer] = Post("/api/save", body);
    EXPECT_EQ(saveStatus, 403) << saveAnswer;
    const auto [openStatus, openAnswer] = Post("/api/open", R"({"file": "link.json"})");
    EXPECT_EQ(openStatus, 403) << openAnswer;
    EXPECT_EQ(ReadFile(work / "outside.json"), gradedCurveScene);
    EXPECT_TRUE(std::filesystem::is_symlink(work / "folder" / "link.json"));
}

TEST_F(Serve, OpenRefusesABadSceneWithTheLoadersMessage) {
    Write(
        "bad.json",
        R"({"format": "vantrel-scene/1", "nodes": [{"id": "c", "type": "Curve3", "params": {"In": 5}}], "output": "c"})");
    StartServer();
    const auto [status, answer] = Post("/api/open", R"({"file": "bad.json"})");
    EXPECT_EQ(status, 400);
    EXPECT_EQ(json::parse(answer), json({{"error",
                                          "bad.json: line 1, column 82: /nodes/0/params/In: expected a list "
                                          "of 3 numbers, or a link, not 5"},
                                         {"kind", "bad-input"},
                                         {"code", "wrong-type"},
                                         {"pointer", "/nodes/0/params/In"},
                                         {"expected", "a list of 3 numbers, or a link"},
                                         {"found", "5"},
                                         {"line", 1},
                                         {"column", 82}}));
}

TEST_F(Serve, StartRefusesWhatRenderRefuses) {
    Write("bad.json", R"({"format": "vantrel-scene/1"})");
    Write("scene.txt", gradedCurveScene);
    for (const char* scene : {"bad.json", "none.json", "scene.txt"}) {
        SCOPED_TRACE(scene);
        const RunResult run = Vantrel({"serve", scene, "--port", "0"});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(scene), std::string::npos) << run.err;
    }
}

// The page is opened at the printed address: its secret goes into a cookie, and out of the address bar,
// and the page's own requests carry the cookie.
TEST_F(Serve, ThePageIsEveryonesAndTheInterfaceTakesTheSecretInAHeader) {
    StartServer();
    const std::filesystem::path built = std::filesystem::path(VANTREL_PATH).parent_path() / "editor";
    if (!std::filesystem::is_regular_file(built / "index.html")) GTEST_SKIP() << "no page is built";
    // The page takes the secret from its address itself: no cookie, which every port would receive.
    for (const std::string& address : {"/?token=" + token, std::string("/")}) {
        const HttpAnswer page = HttpCall(port, "GET", address);
        EXPECT_EQ(page.status, 200) << address;
        EXPECT_EQ(page.body, ReadFile(built / "index.html"));
        EXPECT_EQ(page.headers.count("set-cookie"), 0u);
    }
    const HttpAnswer head = HttpCall(port, "HEAD", "/");
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.body, "");
    EXPECT_EQ(head.headers.at("content-length"), std::to_string(ReadFile(built / "index.html").size()));
    // The data the page reads beside its code, as the source tree holds it.
    for (const char* file : {"examples/presets/curves.json", "examples/presets/recipes.json",
                             "docs/nodes/lattice-soft-dots.json"}) {
        const HttpAnswer data = HttpCall(port, "GET", std::string("/") + file);
        EXPECT_EQ(data.status, 200) << file;
        EXPECT_EQ(data.body, ReadFile(examples.parent_path() / file)) << file;
    }
    EXPECT_EQ(HttpCall(port, "GET", "/examples/presets/../../index.html").status, 404);
    EXPECT_EQ(HttpCall(port, "GET", "/docs/nodes/../../bin/vantrel").status, 404);
    // The interface: the header, or for a script the address.
    EXPECT_EQ(HttpCall(port, "GET", "/api/files").status, 403);
    EXPECT_EQ(HttpCall(port, "GET", "/api/files", {{"X-Vantrel-Token", token}}).status, 200);
    EXPECT_EQ(HttpCall(port, "GET", "/api/files?token=" + token).status, 200);
}

TEST_F(Serve, SurvivesAThousandRequestsAtOnce) {
    StartServer();
    constexpr int requests = 1000;
    std::mutex mutex;
    std::map<int, int> statuses;
    std::vector<std::thread> clients;
    for (int i = 0; i < requests; ++i) {
        clients.emplace_back([&, i] {
            // Values from tabs of their own, and checks: the server answers each, or says it is busy.
            const bool value = i % 2 == 0;
            json body = RequestWith(value ? "/api/value" : "/api/check", {{"x", i % 8}});
            body["client"] = "tab" + std::to_string(i);
            const int status = Post(value ? "/api/value" : "/api/check", body.dump()).first;
            std::lock_guard lock(mutex);
            ++statuses[status];
        });
    }
    for (std::thread& client : clients)
        client.join();
    EXPECT_EQ(statuses[200] + statuses[503], requests) << "only answers and refusals for being busy";
    EXPECT_GE(statuses[200], requests / 2) << "every check at least";
    EXPECT_EQ(Get("/api/files").first, 200);
}

/// What `/api/render` answers and what `vantrel render` writes, for one scene and options.
struct PreviewCase {
    std::string scene;
    json fields;                       ///< of the request, beside the scene, at 64 x 32 in colour
    std::vector<std::string> options;  ///< the same for `vantrel render`
};

TEST_F(Serve, PreviewIsPixelForPixelWhatRenderWrites) {
    // Every example as the page first asks for it; then other types, a node, a region. The models the
    // examples name come along.
    std::vector<PreviewCase> all;
    std::filesystem::copy(examples / "models", work / "models");
    for (const auto& entry : std::filesystem::directory_iterator(examples)) {
        if (entry.path().extension() != ".json") continue;  // examples/presets is the editor's
        const std::string name = entry.path().filename().string();
        if (!std::filesystem::exists(work / name)) std::filesystem::copy_file(entry.path(), work / name);
        all.push_back({name, json::object(), {}});
    }
    all.push_back({"hex-lattice-plane.json", {{"type", "double"}}, {}});
    all.push_back({"vector-to-color.json", {{"type", "colora"}}, {}});
    all.push_back({"vector-to-color.json", {{"type", "vec2"}}, {}});
    all.push_back({"curves.json", {{"region", {0.25, 0.25, 1.25, 0.75}}}, {"--region=0.25,0.25,1.25,0.75"}});
    all.push_back(
        {"distorted-lattice.json", {{"node", "lattice"}, {"type", "double"}}, {"--node", "lattice"}});
    StartServer();
    for (const auto& [scene, fields, options] : all) {
        SCOPED_TRACE(scene + " " + fields.dump());
        json request = RenderRequest(Scene(scene), 64, 32);
        request.update(fields);
        const auto [status, png] = Post("/api/render", request.dump());
        ASSERT_EQ(status, 200) << png;
        WriteFile(work / "preview.png", png);
        std::vector<std::string> arguments = {"render", scene,   "-o",     "rendered.png",
                                              "--size", "64x32", "--type", request["type"]};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const RunResult run = Vantrel(arguments);
        ASSERT_EQ(run.status, 0) << run.err;
        const Decoded preview = ReadPng(work / "preview.png");
        const Decoded rendered = ReadPng(work / "rendered.png");
        EXPECT_EQ(preview.width, 64);
        EXPECT_EQ(preview.height, 32);
        EXPECT_EQ(preview.channels, rendered.channels);
        EXPECT_EQ(preview.depth, 8);
        EXPECT_TRUE(preview.samples == rendered.samples);
    }
}

TEST_F(Serve, ANewerRenderOfTheSameJobCancelsTheOlder) {
    StartServer();
    int slowStatus = 0;
    std::atomic<bool> slowDone{false};
    std::thread slow([&] {
        slowStatus = Post("/api/render", RenderRequest(json::parse(slowScene), 1, 4096).dump()).first;
        slowDone = true;
    });
    // The newer render may come before the slow one is admitted, and then it is the older; it comes
    // again until the slow one has answered.
    std::vector<int> statuses;
    while (!slowDone) {
        statuses.push_back(
            Post("/api/render", RenderRequest(json::parse(gradedCurveScene), 8, 4).dump()).first);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    slow.join();
    EXPECT_EQ(slowStatus, 409);
    // The newer that cancelled it rendered; one that the slow one came after, while it rendered, may
    // have been cancelled by it in turn.
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), 200);
    EXPECT_LE(std::count(statuses.begin(), statuses.end(), 409), 1);
    EXPECT_EQ(
        std::count(statuses.begin(), statuses.end(), 200) + std::count(statuses.begin(), statuses.end(), 409),
        static_cast<long>(statuses.size()));
    // Another tab's render, or another job of the same tab, cancels nothing.
    for (const auto& [client, job] : {std::pair{"other-tab", "preview"}, std::pair{"tab", "thumb:c"}}) {
        EXPECT_EQ(
            Post("/api/render", RenderRequest(json::parse(gradedCurveScene), 8, 4, client, job).dump()).first,
            200);
    }
}

TEST_F(Serve, SurvivesAThousandRendersAtOnce) {
    StartServer();
    constexpr int requests = 1000;
    std::mutex mutex;
    std::map<int, int> statuses;
    std::vector<std::thread> clients;
    for (int i = 0; i < requests; ++i) {
        clients.emplace_back([&, i] {
            // Half from tabs of their own, half from one tab, each cancelling the one before.
            const std::string client = i % 2 == 0 ? "tab" + std::to_string(i) : "tab";
            const int status =
                Post("/api/render", RenderRequest(json::parse(gradedCurveScene), 64, 32, client).dump())
                    .first;
            std::lock_guard lock(mutex);
            ++statuses[status];
        });
    }
    for (std::thread& client : clients)
        client.join();
    int answered = 0;
    for (const auto& [status, count] : statuses) {
        EXPECT_TRUE(status == 200 || status == 409 || status == 503) << status << ": " << count << " times";
        answered += count;
    }
    EXPECT_EQ(answered, requests);
    EXPECT_GT(statuses[200], 0);
    EXPECT_EQ(Post("/api/render", RenderRequest(json::parse(gradedCurveScene), 64, 32).dump()).first, 200);
}

TEST_F(Serve, PreviewPastTheTimeLimitIsStoppedAndSaysSo) {
    StartServer({"curves.json", "--time-limit", "0.5"});
    const std::set<int> before = ChildrenOf(server->Pid());
    const auto [status, answer] = Post("/api/render", RenderRequest(json::parse(hangingScene), 1, 1).dump());
    EXPECT_EQ(status, 504) << answer;
    EXPECT_EQ(json::parse(answer)["kind"], "timed-out");
    EXPECT_NE(json::parse(answer)["error"].get<std::string>().find("longer than 0.5 s"), std::string::npos);
    const std::set<int> after = ChildrenOf(server->Pid());
    EXPECT_EQ(after.size(), before.size()) << "a new process took the stopped one's place";
    EXPECT_NE(after, before);
    EXPECT_EQ(Post("/api/render", RenderRequest(json::parse(gradedCurveScene), 8, 4).dump()).first, 200);
}

// Previews that hang hold neither the server's threads nor its answers to anything else.
TEST_F(Serve, EverythingButPreviewsIsAnsweredWhilePreviewsHang) {
    StartServer({"curves.json", "--time-limit", "600"});
    std::vector<std::thread> hanging;
    std::atomic<int> hangingDone{0};
    for (int i = 0; i < 4; ++i) {  // two that run, two that wait their turn
        hanging.emplace_back([&, i] {
            Post("/api/render",
                 RenderRequest(json::parse(hangingScene), 1, 1, "tab" + std::to_string(i)).dump());
            ++hangingDone;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const json check = RequestWith("/api/check", {});
    for (const auto& [method, path, body] :
         {std::tuple<std::string, std::string, std::string>{"GET", "/api/types", ""},
          {"GET", "/api/files", ""},
          {"GET", "/api/scene", ""},
          {"POST", "/api/check", check.dump()},
          {"POST", "/api/curve", RequestWith("/api/curve", {}).dump()},
          {"POST", "/api/save", json({{"scene", check["scene"]}, {"file", "new.json"}}).dump()}}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Call(method, path, body).status, 200);
    }
    EXPECT_EQ(hangingDone, 0) << "the previews still hang";
    kill(server->Pid(), SIGTERM);
    server->Wait();
    server.reset();
    for (std::thread& each : hanging)
        each.join();
}

// A preview its client gives up (the page was closed, or moved on) ends its process.
TEST_F(Serve, APreviewGivenUpEndsItsProcess) {
    StartServer({"curves.json", "--time-limit", "600"});
    const std::set<int> before = ChildrenOf(server->Pid());
    const std::string body = RenderRequest(json::parse(hangingScene), 1, 1).dump();
    const std::string request =
        "POST /api/render HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
        "\r\nX-Vantrel-Token: " + token +
        "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
        body;
    // The client waits a second for its answer, then goes.
    RawExchange(port, request, std::chrono::seconds(1));
    std::set<int> after = ChildrenOf(server->Pid());
    for (int wait = 0; wait < 100 && after == before; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        after = ChildrenOf(server->Pid());
    }
    EXPECT_NE(after, before) << "the process of the preview given up was replaced";
    EXPECT_EQ(after.size(), before.size());
}

// Forty connections that send their request a byte every two seconds take no thread from a request
// that comes whole, and are closed once their headers' deadline passes.
TEST_F(Serve, SlowClientsDoNotStarveTheServer) {
    StartServer();
    constexpr int slow = 40;
    std::atomic<int> closed{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    for (int i = 0; i < slow; ++i) {
        clients.emplace_back([&] {
            boost::asio::io_context io;
            boost::asio::ip::tcp::socket socket(io);
            socket.connect({boost::asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
            const std::string start = "GET /api/types HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
            for (std::size_t at = 0; !stop; ++at) {
                boost::system::error_code error;
                boost::asio::write(socket, boost::asio::buffer(at < start.size() ? start.substr(at, 1) : "x"),
                                   error);
                if (error) break;
                for (int tick = 0; tick < 20 && !stop; ++tick)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            char byte;
            boost::system::error_code error;
            socket.read_some(boost::asio::buffer(&byte, 1), error);
            if (error) ++closed;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(Get("/api/types").first, 200) << "answered while " << slow << " slow clients send";
    EXPECT_EQ(closed, 0) << "the slow clients are still there";
    for (std::thread& client : clients)
        client.join();  // each sends until the server closes it at its headers' deadline
    stop = true;
    EXPECT_EQ(closed, slow);
}

// A body is bounded however it is sent: in chunks too.
TEST_F(Serve, ChunkedBodiesAreBoundedToo) {
    StartServer();
    std::string request = "POST /api/check HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                          "\r\nX-Vantrel-Token: " + token +
                          "\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string chunk(1 << 20, ' ');
    for (int i = 0; i < 5; ++i)
        request += "100000\r\n" + chunk + "\r\n";
    request += "0\r\n\r\n";
    const std::string answer = RawExchange(port, request);
    EXPECT_EQ(answer.rfind("HTTP/1.1 413", 0), 0u) << answer.substr(0, 200);
    EXPECT_EQ(Get("/api/files").first, 200);
}

// Asked to serve every address of the machine, it takes the machine's own addresses as hosts, and its
// secret is what guards them.
TEST_F(Serve, ServesEveryAddressOfTheMachineBehindItsSecret) {
    std::string address;
    ifaddrs* addresses = nullptr;
    ASSERT_EQ(getifaddrs(&addresses), 0);
    for (const ifaddrs* each = addresses; each && address.empty(); each = each->ifa_next) {
        if (!each->ifa_addr || each->ifa_addr->sa_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(each->ifa_addr)->sin_addr, text,
                  sizeof text);
        if (std::string(text).rfind("127.", 0) != 0) address = text;
    }
    freeifaddrs(addresses);
    if (address.empty()) GTEST_SKIP() << "this machine has no address but its loopback";
    StartServer({"curves.json", "--host", "0.0.0.0"});
    const std::string host = address + ":" + std::to_string(port);
    EXPECT_EQ(Get("/api/files", {{"Host", host}}).first, 200);
    EXPECT_EQ(HttpCall(port, "GET", "/api/files", {{"Host", host}}).status, 403) << "without the secret";
    EXPECT_EQ(Get("/api/files", {{"Host", "evil.example:" + std::to_string(port)}}).first, 403);
}

}  // namespace
}  // namespace vantrel::test
