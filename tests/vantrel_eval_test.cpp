// `vantrel eval` run as a user runs it: its numbers against values worked out by hand, on any number of
// threads, and every kind of bad scene and input line.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/vantrel_run.h"

namespace vantrel::test {
namespace {

using nlohmann::json;

/// A graph, and what `vantrel eval` must write for samples of it, worked out by hand: each line's
/// components within 1e-12, or the text as it stands.
struct EvalCase {
    const char* name;
    const char* scene;
    struct Line {
        const char* sample;
        const char* type;
        std::vector<double> expected;  ///< empty: `text` instead
        const char* text = "";
    };
    std::vector<Line> lines;
};

void PrintTo(const EvalCase& evalCase, std::ostream* out) {
    *out << evalCase.name;
}

const double sqrt3 = std::sqrt(3.0);

// The lattice's curves are straight through the origin with slopes 1, 2 and 4, so that its weight sum
// is d0 + 2 d1 + 4 d2: 6 at a lattice point (distances 0, 1, 1), 1.5 + 2 sqrt(3) at the middle of an
// edge (1/2, 1/2, sqrt(3)/2), 7 / sqrt(3) at a triangle's centre. A colour's double is
// ((g + b) + r) * 0.3333333333333 and its int ((g + b) + r) * 84.99999999999915, truncated.
const EvalCase evalCases[] = {
    {"curve3-constant",
     R"~({ "format": "vantrel-scene/1", "output": "c",
        "nodes": [ { "id": "c", "type": "Curve3", "params": { "In": [0.2, 0.7, 1.4] },
                     "curves": { "Curve": { "red": [[0, 1], [1, 0]], "green": [[0, 0], [1, 0.5]],
                                            "blue": [[0, 0.5], [2, 0.25]] } } } ] })~",
     // Red 1 - 0.2, green 0.7 / 2, blue 0.5 - 1.4 / 8, whatever the sample.
     {{"0 0 0", "color", {0.8, 0.35, 0.325}},
      {"-3.5 1.25 0.5", "colora", {0.8, 0.35, 0.325, 1}},
      {"1 2 3", "vec2", {0.8, 0.35}},
      {"1 2 3", "quaternion", {0.8, 0.35, 0.325, 0}},
      {"1 2 3", "double", {1.475 * 0.3333333333333}},
      {"1 2 3", "int", {125}}}},
    {"curve3-position",
     R"~({ "format": "vantrel-scene/1", "output": "c",
        "nodes": [ { "id": "c", "type": "Curve3", "params": { "In": { "link": "@position" } },
                     "curves": { "Curve": { "red": [[-1, 0], [1, 1]] } } } ] })~",
     // Red (x + 1) / 2; green and blue the new curve, 0 to 1 straight and held beyond.
     {{"0.25 -0.5 0.75", "color", {0.625, 0, 0.75}},
      {"-3 0.5 2", "vec3", {0, 0.5, 1}},
      {"0.5 0.25 0.25", "vec4", {0.75, 0.25, 0.25, 0}},
      {"1 1 1", "int", {254}}}},
    {"lattice-plane",
     R"~({ "format": "vantrel-scene/1", "output": "h",
        "nodes": [ { "id": "h", "type": "Hexagonal lattice 3D(1)",
                     "params": { "Position": { "link": "@position" }, "Rescale result?": 0,
                                 "(2=plane, 3=sphere)(how to make list box]": 2 },
                     "curves": { "W1": [[0, 0], [1, 1]], "W2": [[0, 0], [1, 2]], "W3": [[0, 0], [1, 4]] } } ] })~",
     {{"0 0 0", "double", {6}},
      {"0.5 0 9", "double", {1.5 + 2 * sqrt3}},
      {"0.5 0.28867513459481287 0", "double", {7 / sqrt3}},
      {"0.5 0 -1", "int", {4}},
      // Nearest (0, 0) at 0.5 (weight 0.5), then (1, 0) (1), then (1/2, sqrt(3)/2) at sqrt(3)/2 (2 sqrt(3)).
      {"0.5 0 0", "vec3", {1 + 2 * sqrt3 * 0.5, 2 * sqrt3* sqrt3 / 2, 0}},
      {"0.5 0 0", "colora", {1 + 2 * sqrt3 * 0.5, 2 * sqrt3* sqrt3 / 2, 0, 1}}}},
    {"lattice-sphere",
     R"~({ "format": "vantrel-scene/1", "output": "h",
        "nodes": [ { "id": "h", "type": "Hexagonal lattice 3D(1)",
                     "params": { "Position": { "link": "@position" }, "Subdivision": 4 },
                     "curves": { "W1": [[0, 1], [1, 1]], "W2": [[0, 0], [1, 0]], "W3": [[0, 0], [1, 0]] } } ] })~",
     // Only the nearest corner weighs: near the apex it is the apex, near a vertex of the lower ring the
     // vertex, as a unit vector; the weight sum is 1 wherever there is a direction.
     {{"0.01 -0.02 1", "vec3", {0, 0, 1}},
      {"0.8506508083520399 0.01 -0.4253254041760199", "vec3", {0.8944271909999159, 0, -0.4472135954999579}},
      {"0 0 -7", "color", {0, 0, -1}},
      {"0.3 0.2 -0.1", "double", {1}},
      {"0 0 0", "double", {0}},
      {"0 0 0", "vec3", {0, 0, 0}}}},
    {"vector-to-color",
     R"~({ "format": "vantrel-scene/1", "output": "v",
        "nodes": [ { "id": "v", "type": "Vector to color",
                     "params": { "In": { "link": "@position" }, "Weights": [1, 2, 0.5, 0.25] },
                     "gradients": { "X color": [[-1, [1, 0, 0]], [1, [0, 0, 1]]],
                                    "Y color": [[-1, [0, 1, 0]], [0, [1, 1, 0]], [1, [0, 0, 0]]],
                                    "Z color": [[0, [0.5, 0.5, 0.5]]] } } ] })~",
     // At the origin: X (0.5, 0, 0.5), Y (1, 1, 0), Z (0.5, 0.5, 0.5), W black, weighed 1 : 2 : 0.5 :
     // 0.25 over 3.75. At (1, -1, 9): X (0, 0, 1), Y (0, 1, 0), Z the same.
     {{"0 0 0", "color", {2.75 / 3.75, 2.25 / 3.75, 0.75 / 3.75}},
      {"1 -1 9", "color", {0.25 / 3.75, 2.25 / 3.75, 1.25 / 3.75}},
      {"1 -1 9", "vec2", {0.25 / 3.75, 2.25 / 3.75}}}},
    {"leapfrog",
     R"~({ "format": "vantrel-scene/1", "output": "f",
        "nodes": [ { "id": "f", "type": "Leapfrog fractal",
                     "params": { "A": { "link": "@position" }, "Radius": 1.5, "Iterations": 30 } } ] })~",
     // Along the x axis A, B and C are the axes: |B + C|^2 = 2 is below 2.25 at the first test. Along
     // the y axis A = B, and |B + C|^2 = 2 stops all the same.
     {{"3 0 0", "double", {2 / 2.25}},
      {"0 0.5 0", "double", {2 / 2.25}},
      {"1 0 0", "quaternion", {0, 0, 0, 2 / 2.25}},
      {"1 0 0", "vec4", {2 / 2.25, 2 / 2.25, 2 / 2.25, 2 / 2.25}},
      {"1 0 0", "int", {0}}}},
    {"w-distortion-of-leapfrog",
     R"~({ "format": "vantrel-scene/1", "output": "w",
        "nodes": [ { "id": "f", "type": "Leapfrog fractal",
                     "params": { "A": { "link": "@position" }, "Radius": 0.5, "Iterations": 8 } },
                   { "id": "w", "type": "W Distortion",
                     "params": { "Position": { "link": "@position" }, "Distortion": { "link": "f" } } } ] })~",
     // Along the x axis the three axes never move: all rounds run, 1 / 0.25.
     {{"2 0 0", "vec3", {2, 0, 4}},
      {"2 0 0", "vec4", {2, 0, 0, 4}},
      {"2 0 0", "vec2", {2, 4}},
      {"2 0 0", "colora", {2, 0, 0, 4}},
      {"2 0 0", "double", {4}},
      {"2 0 0", "int", {4}},
      {"2 0 0", "string", {}, "(2, 0, 4)"}}},
    {"lattice-of-w-distortion",
     R"~({ "format": "vantrel-scene/1", "output": "h",
        "nodes": [ { "id": "w", "type": "W Distortion",
                     "params": { "Position": { "link": "@position" }, "Distortion": 0.3 } },
                   { "id": "h", "type": "Hexagonal lattice 3D(1)",
                     "params": { "Position": { "link": "w" }, "Subdivision": 5 },
                     "curves": { "W1": [[0, 0], [1, 1]], "W2": [[0, 0], [1, 2]], "W3": [[0, 0], [1, 4]] } } ] })~",
     // The lattice sees (x, y, 0.3): at x = y = 0 the apex, a lattice point.
     {{"0 0 5", "double", {6}}, {"0 0 -2", "double", {6}}}},
    {"defaults",
     R"~({ "format": "vantrel-scene/1", "output": "v", "nodes": [ { "id": "v", "type": "Vector to color" } ] })~",
     {{"0 0 0", "color", {0, 0, 0}},
      {"1 2 3", "colora", {0, 0, 0, 1}},
      {"1 2 3", "double", {0}},
      {"1 2 3", "string", {}, "(0, 0, 0)"}}},
};

class EvalWorkedValues : public VantrelTest, public ::testing::WithParamInterface<EvalCase> {};

TEST_P(EvalWorkedValues, EveryLineHoldsItsValue) {
    Write("scene.json", GetParam().scene);
    for (const EvalCase::Line& line : GetParam().lines) {
        SCOPED_TRACE(testing::Message() << line.type << " at " << line.sample);
        const RunResult run =
            Vantrel({"eval", "scene.json", "--type", line.type}, std::string(line.sample) + "\n");
        ASSERT_EQ(run.status, 0) << run.err;
        ASSERT_FALSE(run.out.empty());
        ASSERT_EQ(run.out.back(), '\n');
        const std::string written = run.out.substr(0, run.out.size() - 1);
        if (line.expected.empty()) {
            EXPECT_EQ(written, line.text);
            continue;
        }
        EXPECT_EQ(written.find("  "), std::string::npos) << "one blank between components: " << written;
        std::istringstream words(written);
        std::vector<double> read;
        for (std::string word; words >> word;)
            read.push_back(std::strtod(word.c_str(), nullptr));
        ASSERT_EQ(read.size(), line.expected.size()) << written;
        for (std::size_t i = 0; i < read.size(); ++i)
            EXPECT_NEAR(read[i], line.expected[i], 1e-12) << written;
    }
}

INSTANTIATE_TEST_SUITE_P(Graphs, EvalWorkedValues, ::testing::ValuesIn(evalCases), [](const auto& info) {
    std::string name = info.param.name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
});

using Eval = VantrelTest;

TEST_F(Eval, SkipsBlankLinesAndCommentsAndDefaultsToColor) {
    Write("scene.json", curveScene);
    const RunResult run =
        Vantrel({"eval", "scene.json"}, "# header\n\n  0.25\t0.5 0.75  # a sample\n   \n1 0 0\n");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "0.25 0.5 0.75\n1 0 0\n");
}

TEST_F(Eval, WritesNonFiniteValuesAsWords) {
    // Vector to color with weights summing to zero: every channel is not-a-number.
    Write("scene.json", R"~({ "format": "vantrel-scene/1", "output": "v",
        "nodes": [ { "id": "v", "type": "Vector to color", "params": { "Weights": [0, 0, 0, 0] } } ] })~");
    RunResult run = Vantrel({"eval", "scene.json"}, "0 0 0\n");
    EXPECT_EQ(run.out, "nan nan nan\n");
    Write("scene.json", curveScene);
    run = Vantrel({"eval", "scene.json", "--type", "vec3"}, "inf -inf 1e308\n");
    EXPECT_EQ(run.out, "1 0 1\n");  // the default curve is held constant beyond its ends
    Write("scene.json", R"~({ "format": "vantrel-scene/1", "output": "f",
        "nodes": [ { "id": "f", "type": "Leapfrog fractal", "params": { "Radius": 0 } } ] })~");
    run = Vantrel({"eval", "scene.json", "--type", "double"}, "0 0 0\n");
    EXPECT_EQ(run.out, "inf\n");
}

struct BadLine {
    const char* input;
    const char* where;
};

TEST_F(Eval, BadLineStopsWithItsNumber) {
    Write("scene.json", curveScene);
    const BadLine cases[] = {
        {"0 0 0\n1 2\n", "line 2"}, {"1 2 3 4\n", "line 1"}, {"# x\n\na b c\n", "line 3"},
        {"1,2,3\n", "line 1"},      {"1 2 3x\n", "line 1"},  {"0 0 0\n0 0 0\n+1 2 3\n", "line 3"},
        {"1 2 0x10\n", "line 1"},
    };
    for (const BadLine& bad : cases) {
        SCOPED_TRACE(bad.input);
        const RunResult run = Vantrel({"eval", "scene.json"}, bad.input);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(std::string("standard input: ") + bad.where + ": expected three numbers"),
                  std::string::npos)
            << run.err;
    }
}

/// A bad scene, and what its message must say after "vantrel: bad.json: ": `where`, the line and column
/// of the fault for malformed JSON, else the pointer of the value at fault, and then `message`. Where
/// the message gives a line and column for a pointer, the file's text there starts with `at`.
struct BadScene {
    const char* scene;
    const char* where;
    const char* message;
    const char* at;
};

#define SCENE(nodes) R"~({ "format": "vantrel-scene/1", "output": "a", "nodes": )~" nodes " }"

const BadScene badScenes[] = {
    // Malformed JSON: the line and column where the parser stopped.
    {R"~({ "format": )~", "line 1, column 13", "malformed JSON", nullptr},
    {"{\n  \"format\": \"vantrel-scene/1\",\n  \"nodes\": [ { \"id\": \"a\", } ]\n}", "line 3, column 27",
     "malformed JSON", nullptr},
    {"", "line 1, column 1", "malformed JSON", nullptr},
    // A number no double holds: where it starts.
    {SCENE(R"~([ { "id": "a", "type": "Curve3", "params": { "In": [0, 1e400, 0] } } ])~"),
     "line 1, column 111", "expected a number of at most 1.8e308 in size: number overflow parsing '1e400'",
     nullptr},
    // The scene as a whole.
    {"[1, 2]", "(top level)", "expected an object", "[1, 2]"},
    {R"~({ "format": "vantrel-scene/2", "nodes": [], "output": "a" })~", "/format",
     "expected \"vantrel-scene/1\", not \"vantrel-scene/2\"", "\"format\""},
    {R"~({ "format": "vantrel-scene/1", "nodes": [], "output": "a" })~", "/nodes",
     "expected a list of at least one node", "\"nodes\""},
    {R"~({ "format": "vantrel-scene/1", "nodes": [ { "id": "a", "type": "Curve3" } ], "outptu": "a" })~",
     "/outptu", "expected one of the keys", "\"outptu\""},
    {R"~({ "format": "vantrel-scene/1", "nodes": [ { "id": "a", "type": "Curve3" } ] })~", "/output",
     "expected the id of the node to evaluate; the ids are \"a\"", nullptr},
    {R"~({ "format": "vantrel-scene/1", "nodes": [ { "id": "a", "type": "Curve3" } ], "output": "b" })~",
     "/output", "expected the id of the node to evaluate, not \"b\"", "\"output\""},
    // Ids and types.
    {SCENE(R"~([ 5 ])~"), "/nodes/0", "expected an object", "5 ]"},
    {SCENE(R"~([ { "type": "Curve3" } ])~"), "/nodes/0/id", "expected a non-empty string", nullptr},
    {SCENE(R"~([ { "id": "@a", "type": "Curve3" } ])~"), "/nodes/0/id",
     "expected a non-empty string not starting with '@'", "\"id\": \"@a\""},
    {SCENE(R"~([ { "id": "a", "type": "Curve3" }, { "id": "a", "type": "Curve3" } ])~"), "/nodes/1/id",
     "expected an id of its own, not \"a\"; it is also the id of /nodes/0",
     "\"id\": \"a\", \"type\": \"Curve3\" } ]"},
    {SCENE(R"~([ { "id": "a" } ])~"), "/nodes/0/type", "expected a node type of the loaded modules", nullptr},
    {SCENE(R"~([ { "id": "a", "type": "Curve4" } ])~"), "/nodes/0/type",
     "expected a node type of the loaded modules, by name or class id, not \"Curve4\"; the types are "
     "\"Hexagonal "
     "lattice 3D(1)\" (0x92512342), \"Vector to color\" (0x92512343), \"Curve3\" (0x92512344)",
     "\"type\": \"Curve4\""},
    {SCENE(R"~([ { "id": "a", "type": "0x12345678" } ])~"), "/nodes/0/type", "expected a node type",
     "\"type\""},
    {SCENE(R"~([ { "id": "a", "type": "Curve3", "colour": 1 } ])~"), "/nodes/0/colour",
     "expected one of the keys", "\"colour\""},
    // Parameters, curves and gradients, checked by the stored form.
    {SCENE(R"~([ { "id": "a", "type": "Curve3", "params": { "Out": 1 } } ])~"), "/nodes/0/params/Out",
     "expected one of the parameters \"In\"", "\"Out\""},
    {SCENE(R"~([ { "id": "a", "type": "Curve3", "params": [] } ])~"), "/nodes/0/params",
     "expected an object, not []", "\"params\""},
    {SCENE(R"~([ { "id": "a", "type": "Curve3", "params": { "In": [1, 2] } } ])~"), "/nodes/0/params/In",
     "expected a list of 3 numbers, or a link, not [1,2]", "\"In\""},
    {SCENE(R"~([ { "id": "a", "type": "Hexagonal lattice 3D(1)", "params": { "Subdivision": "many" } } ])~"),
     "/nodes/0/params/Subdivision", "expected a whole number", "\"Subdivision\""},
    {SCENE(R"~([ { "id": "a", "type": "Hexagonal lattice 3D(1)",
                  "params": { "(2=plane, 3=sphere)(how to make list box]": 4 } } ])~"),
     "/nodes/0/params/(2=plane, 3=sphere)(how to make list box]", "expected a value within 2 .. 3, not 4",
     "\"(2=plane"},
    {SCENE(R"~([ { "id": "a", "type": "Curve3", "curves": { "Curv": [] } } ])~"), "/nodes/0/curves/Curv",
     "expected one of the curves \"Curve\"", "\"Curv\""},
    {SCENE(R"~([ { "id": "a", "type": "Curve3", "curves": { "Curve": { "alpha": [[0, 0]] } } } ])~"),
     "/nodes/0/curves/Curve/alpha", "expected one of the channels", "\"alpha\""},
    {SCENE(R"~([ { "id": "a", "type": "Curve3", "curves": { "Curve": { "red": [[0, 0], [0, 1]] } } } ])~"),
     "/nodes/0/curves/Curve/red/1/0", "expected an x above the previous point's, 0, not 0", "0, 1]"},
    {SCENE(
         R"~([ { "id": "a", "type": "Hexagonal lattice 3D(1)", "curves": { "W2": [[0.5, 0], [0.2, 1]] } } ])~"),
     "/nodes/0/curves/W2/1/0", "expected an x above the previous point's, 0.5, not 0.2", "0.2, 1]"},
    {SCENE(R"~([ { "id": "a", "type": "Vector to color", "gradients": { "V color": [] } } ])~"),
     "/nodes/0/gradients/V color",
     "expected one of the gradients \"X color\", \"Y color\", \"Z color\", \"W color\"", "\"V color\""},
    {SCENE(R"~([ { "id": "a", "type": "Vector to color", "gradients": { "X color": [[0, [1, 1]]] } } ])~"),
     "/nodes/0/gradients/X color/0/1", "expected an [r, g, b] colour", "[1, 1]"},
    {SCENE(
         R"~([ { "id": "a", "type": "Vector to color", "gradients": { "X color": [[1, [1, 1, 1]], [0, [0, 0, 0]]] } } ])~"),
     "/nodes/0/gradients/X color/1/0", "expected a position above the previous stop's, 1, not 0", "0, [0"},
    // Links.
    {SCENE(R"~([ { "id": "a", "type": "Curve3", "params": { "In": { "link": "b" } } } ])~"),
     "/nodes/0/params/In/link", "expected \"@position\" or the id of a node, not \"b\"; the ids are \"a\"",
     "\"link\": \"b\""},
    {SCENE(R"~([ { "id": "a", "type": "Curve3", "params": { "In": { "link": "@where" } } } ])~"),
     "/nodes/0/params/In/link", "expected \"@position\" or the id of a node", "\"link\""},
    {SCENE(
         R"~([ { "id": "a", "type": "Curve3", "params": { "In": { "link": "@position", "scale": 2 } } } ])~"),
     "/nodes/0/params/In", "expected a value, or a link", "\"In\""},
    {SCENE(R"~([ { "id": "a", "type": "Curve3", "params": { "In": { "link": "a" } } } ])~"),
     "/nodes/0/params/In/link", "expected links without a cycle; these nodes read each other: \"a\" -> \"a\"",
     "\"link\""},
    {SCENE(R"~([ { "id": "a", "type": "Curve3", "params": { "In": { "link": "b" } } },
                { "id": "b", "type": "Curve3", "params": { "In": { "link": "a" } } } ])~"),
     "/nodes/0/params/In/link",
     "expected links without a cycle; these nodes read each other: \"a\" -> \"b\" -> \"a\"",
     "\"link\": \"b\""},
    {SCENE(R"~([ { "id": "a", "type": "Vector to color", "params": { "In": { "link": "b" } } },
                { "id": "b", "type": "W Distortion", "params": { "Position": { "link": "c" } } },
                { "id": "c", "type": "Leapfrog fractal", "params": { "C": { "link": "b" } } } ])~"),
     "/nodes/1/params/Position/link",
     "expected links without a cycle; these nodes read each other: \"b\" -> \"c\" -> \"b\"",
     "\"link\": \"c\""},
    // The domain.
    {R"~({ "format": "vantrel-scene/1", "nodes": [ { "id": "a", "type": "Curve3" } ], "output": "a",
          "domain": { "kind": "torus" } })~",
     "/domain/kind", "expected \"plane\", \"sphere\" or \"mesh\", not \"torus\"", "\"kind\""},
    {R"~({ "format": "vantrel-scene/1", "nodes": [ { "id": "a", "type": "Curve3" } ], "output": "a",
          "domain": { "kind": "plane", "min": [1, 0], "max": [0, 1] } })~",
     "/domain/max", "expected a point above and to the right of /domain/min", "\"max\""},
    {R"~({ "format": "vantrel-scene/1", "nodes": [ { "id": "a", "type": "Curve3" } ], "output": "a",
          "domain": { "kind": "sphere", "min": [0, 0] } })~",
     "/domain/min", "expected only \"kind\" in a sphere domain, not \"min\"", "\"min\""},
    // The type it is seen in, and the editor's places of its nodes.
    {R"~({ "format": "vantrel-scene/1", "nodes": [ { "id": "a", "type": "Curve3" } ], "output": "a",
          "output_type": "grey" })~",
     "/output_type", "expected one of string, colora, color", "\"output_type\""},
    {R"~({ "format": "vantrel-scene/1", "nodes": [ { "id": "a", "type": "Curve3" } ], "output": "a",
          "samples": 17 })~",
     "/samples", "expected a whole number from 1 to 16, the sub-samples along each side of a pixel, not 17",
     "\"samples\""},
    {R"~({ "format": "vantrel-scene/1", "nodes": [ { "id": "a", "type": "Curve3" } ], "output": "a",
          "output_type": "int", "samples": 2 })~",
     "/samples", "expected 1 for an int image", "\"samples\""},
    {R"~({ "format": "vantrel-scene/1", "nodes": [ { "id": "a", "type": "Curve3" } ], "output": "a",
          "layout": [1, 2] })~",
     "/layout", "expected an object of node ids and [x, y] places", "\"layout\""},
    {R"~({ "format": "vantrel-scene/1", "nodes": [ { "id": "a", "type": "Curve3" } ], "output": "a",
          "layout": { "a": [1, "inf"] } })~",
     "/layout/a", "expected a place [x, y] of two finite numbers", "\"a\""},
};

/// The text of `text` from line `line`, column `column` on (both from 1).
std::string TextAt(const std::string& text, int line, int column) {
    std::size_t at = 0;
    for (int i = 1; i < line; ++i)
        at = text.find('\n', at) + 1;
    return text.substr(at + column - 1);
}

TEST_F(Eval, EveryKindOfBadSceneIsRefusedWithWhereItIs) {
    const std::regex located("^vantrel: bad\\.json: line ([0-9]+), column ([0-9]+): (.*)\n$");
    for (const BadScene& bad : badScenes) {
        SCOPED_TRACE(bad.scene);
        Write("bad.json", bad.scene);
        const RunResult run = Vantrel({"eval", "bad.json"}, "0 0 0\n");
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "") << "nothing is evaluated";
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one message: " << run.err;
        std::smatch match;
        const bool hasPlace = std::regex_match(run.err, match, located);
        const std::string said = hasPlace && bad.at ? match[3].str() : run.err;
        const std::string expected = std::string(bad.where) + ": " + bad.message;
        if (bad.at) {
            ASSERT_TRUE(hasPlace) << run.err;
            EXPECT_EQ(said.rfind(expected, 0), 0u) << run.err;
            EXPECT_EQ(TextAt(bad.scene, std::stoi(match[1]), std::stoi(match[2])).rfind(bad.at, 0), 0u)
                << run.err;
        } else {
            EXPECT_EQ(run.err.rfind("vantrel: bad.json: " + expected, 0), 0u) << run.err;
        }
    }
}

// A scene that names the type it is seen in is evaluated and rendered in it unless --type says
// otherwise; the editor's places of its nodes change nothing.
TEST_F(Eval, SceneNamesTheTypeItIsSeenIn) {
    Write("typed.json", R"~({ "format": "vantrel-scene/1", "output": "c", "output_type": "double",
        "layout": { "c": [120, -40.5], "@position": [0, 0] },
        "nodes": [ { "id": "c", "type": "Curve3", "params": { "In": { "link": "@position" } } } ] })~");
    const struct {
        std::vector<std::string> options;
        std::string out;
    } runs[] = {{{}, "0.3333333333333\n"}, {{"--type", "color"}, "1 0 0\n"}, {{"--type", "int"}, "84\n"}};
    for (const auto& run : runs) {
        std::vector<std::string> arguments = {"eval", "typed.json"};
        arguments.insert(arguments.end(), run.options.begin(), run.options.end());
        const RunResult evaluated = Vantrel(arguments, "1 0 0\n");
        EXPECT_EQ(evaluated.status, 0) << evaluated.err;
        EXPECT_EQ(evaluated.out, run.out);
    }
    const RunResult rendered = Vantrel({"render", "typed.json", "--size", "4x2"});
    ASSERT_EQ(rendered.status, 0) << rendered.err;
    const std::string png = ReadFile(work / "typed.png");
    ASSERT_GT(png.size(), 26u);
    EXPECT_EQ(png[25], 0) << "a grey PNG (colour type 0), as the scene's double is seen";
    // A scene seen as text is refused by render, naming the scene's type.
    Write("text.json", R"~({ "format": "vantrel-scene/1", "output": "c", "output_type": "string",
        "nodes": [ { "id": "c", "type": "Curve3" } ] })~");
    const RunResult refused = Vantrel({"render", "text.json"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err,
              "vantrel: text.json: /output_type: an image needs a numeric output type, not string\n");
}

// A scene that names its sub-samples is rendered with them unless --samples says otherwise, so the
// saved file renders as the editor showed it; an int image takes one.
TEST_F(Eval, SceneNamesTheSamplesItIsRenderedWith) {
    const std::string scene = R"~({ "format": "vantrel-scene/1", "output": "c",
        "nodes": [ { "id": "c", "type": "Curve3", "params": { "In": { "link": "@position" } },
                     "curves": { "Curve": { "red": [[0, 0], [0.3, 1], [0.31, 0]] } } } ])~";
    Write("plain.json", scene + "}");
    Write("sampled.json", scene + R"~(, "samples": 3 })~");
    const auto render = [&](const std::vector<std::string>& options) {
        std::vector<std::string> arguments = {"render", "-o", "out.png", "--size", "16x8"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const RunResult run = Vantrel(arguments);
        EXPECT_EQ(run.status, 0) << run.err;
        return ReadFile(work / "out.png");
    };
    const std::string three = render({"plain.json", "--samples", "3"});
    const std::string one = render({"plain.json"});
    ASSERT_NE(three, one) << "the curve's steep edges differ when sub-sampled";
    EXPECT_EQ(render({"sampled.json"}), three);
    EXPECT_EQ(render({"sampled.json", "--samples", "1"}), one);
    EXPECT_EQ(render({"sampled.json", "--type", "int"}), render({"plain.json", "--type", "int"}));
}

TEST_F(Eval, MissingSceneFileIsBadInput) {
    const RunResult run = Vantrel({"eval", "missing.json"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "vantrel: missing.json: cannot read the file: No such file or directory\n");
}

/// Positions on a sphere of radius 2, spread by a golden-angle spiral: a line each.
std::string SpiralPositions(int count) {
    std::ostringstream lines;
    lines.precision(17);
    for (int i = 0; i < count; ++i) {
        const double z = 1.0 - 2.0 * (i + 0.5) / count;
        const double r = std::sqrt(1.0 - z * z);
        const double angle = 2.399963229728653 * i;
        lines << 2 * r * std::cos(angle) << ' ' << 2 * r * std::sin(angle) << ' ' << 2 * z << '\n';
    }
    return lines.str();
}

TEST_F(Eval, ThreadsChangeNoByteAndTheLinesBeforeABadOneAreAnswered) {
    // More positions than one batch of chunks holds on one or two threads, then a bad line.
    const int count = 3000;
    const std::string input = SpiralPositions(count) + "0 0\n";
    const std::string scene = std::string(VANTREL_EXAMPLES_DIR) + "/hex-lattice-sphere.json";
    std::string first;
    for (const char* threads : {"1", "2", "7"}) {
        SCOPED_TRACE(threads);
        const RunResult run = Vantrel({"eval", scene, "--type", "vec3", "--threads", threads}, input);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "vantrel: standard input: line " + std::to_string(count + 1) +
                               ": expected three numbers \"x y z\", not \"0 0\"\n");
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), count);
        if (first.empty()) first = run.out;
        EXPECT_EQ(run.out, first);
    }
}

}  // namespace
}  // namespace vantrel::test
