// `vantrel eval` and `render` with --node and --set, run as a user runs them: each run must answer as
// the scene file edited by hand answers, values, messages and refusals alike.

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "tests/vantrel_run.h"

namespace vantrel::test {
namespace {

// A hexagonal lattice on the plane coloured by vector to color; `@IN@`, `@SUB@` and `@OUT@` are
// filled in by each case.
const char* const sceneTemplate = R"~({ "format": "vantrel-scene/1", "output": @OUT@,
    "nodes": [ { "id": "lattice", "type": "Hexagonal lattice 3D(1)",
                 "params": { "Position": { "link": "@position" }, "Subdivision": @SUB@,
                             "(2=plane, 3=sphere)(how to make list box]": @MODE@ } },
               { "id": "paint", "type": "Vector to color",
                 "params": { "In": @IN@, "Weights": [1, 1, 0, 0] },
                 "gradients": { "X color": [[-3, [0, 0, 1]], [3, [1, 0.5, 0]]],
                                "Y color": [[-2, [0, 1, 0]], [2, [1, 0, 1]]] } } ],
    "domain": { "kind": "plane", "min": [-3, -1.5], "max": [3, 1.5] } })~";

struct Fill {
    std::string in = R"({"link": "lattice"})";
    std::string subdivision = "1";
    std::string mode = "2";
    std::string output = R"("paint")";
};

std::string SceneOf(const Fill& fill) {
    std::string scene = sceneTemplate;
    for (const auto& [mark, text] : {std::pair<std::string, std::string>{"@IN@", fill.in},
                                     {"@SUB@", fill.subdivision},
                                     {"@MODE@", fill.mode},
                                     {"@OUT@", fill.output}}) {
        scene.replace(scene.find(mark), mark.size(), text);
    }
    return scene;
}

/// Options on the plain scene, and the scene file that must answer alike.
struct EditCase {
    const char* name;
    std::vector<std::string> options;
    Fill same;
};

void PrintTo(const EditCase& editCase, std::ostream* out) {
    *out << editCase.name;
}

const EditCase editCases[] = {
    {"node", {"--node", "lattice"}, {.output = R"("lattice")"}},
    {"number", {"--set", "lattice.Subdivision=3"}, {.subdivision = "3"}},
    {"vector", {"--set", "paint.In=[0.5, -1, 0]"}, {.in = "[0.5, -1, 0]"}},
    // The name holds an '=': the node's own names say where the value begins.
    {"name-with-equals", {"--set", "lattice.(2=plane, 3=sphere)(how to make list box]=3"}, {.mode = "3"}},
    {"link-to-position", {"--set", R"(paint.In={"link": "@position"})"}, {.in = R"({"link": "@position"})"}},
    {"later-wins",
     {"--set", "lattice.Subdivision=2", "--set", "lattice.Subdivision=4"},
     {.subdivision = "4"}},
    {"node-and-set",
     {"--node", "lattice", "--set", "lattice.Subdivision=2"},
     {.subdivision = "2", .output = R"("lattice")"}},
    // Refused, by the same check as the file.
    {"node-unknown", {"--node", "nowhere"}, {.output = R"("nowhere")"}},
    {"wrong-kind", {"--set", R"(lattice.Subdivision="many")"}, {.subdivision = R"("many")"}},
    {"not-whole", {"--set", "lattice.Subdivision=2.5"}, {.subdivision = "2.5"}},
    {"link-to-nothing", {"--set", R"(paint.In={"link": "nowhere"})"}, {.in = R"({"link": "nowhere"})"}},
    {"link-cycle", {"--set", R"(paint.In={"link": "paint"})"}, {.in = R"({"link": "paint"})"}},
};

class Edits : public VantrelTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(Edits, AnswerAsTheEditedFileDoes) {
    const EditCase& editCase = GetParam();
    Write("plain.json", SceneOf({}));
    Write("edited.json", SceneOf(editCase.same));
    const std::string samples = "0 0 0\n0.3 -0.2 0\n-1.7 0.9 0\n";
    // A message names the file with the options, as they were given.
    std::string said;
    for (const std::string& option : editCase.options)
        said += (said.empty() ? "" : " ") + option;
    // The place in the file is left out: the options' values stand in no file.
    const auto sameMessage = [&](const RunResult& edited, const RunResult& byHand) {
        std::string expected = std::regex_replace(byHand.err, std::regex("line [0-9]+, column [0-9]+: "), "");
        const std::string name = "edited.json";
        if (const std::size_t at = expected.find(name); at != std::string::npos)
            expected.replace(at, name.size(), "plain.json (with " + said + ")");
        EXPECT_EQ(edited.err, expected);
    };
    for (const char* type : {"color", "vec3"}) {
        SCOPED_TRACE(type);
        std::vector<std::string> arguments = {"eval", "plain.json", "--type", type};
        arguments.insert(arguments.end(), editCase.options.begin(), editCase.options.end());
        const RunResult edited = Vantrel(arguments, samples);
        const RunResult byHand = Vantrel({"eval", "edited.json", "--type", type}, samples);
        EXPECT_EQ(edited.status, byHand.status) << edited.err;
        EXPECT_EQ(edited.out, byHand.out);
        sameMessage(edited, byHand);
    }
    // render reads the scene the same way: the same image, or the same refusal.
    std::vector<std::string> arguments = {"render", "plain.json", "-o", "edited.png", "--size", "16x8"};
    arguments.insert(arguments.end(), editCase.options.begin(), editCase.options.end());
    const RunResult edited = Vantrel(arguments);
    const RunResult byHand = Vantrel({"render", "edited.json", "-o", "byhand.png", "--size", "16x8"});
    ASSERT_EQ(edited.status, byHand.status) << edited.err;
    sameMessage(edited, byHand);
    if (byHand.status == 0) {
        EXPECT_EQ(ReadFile(work / "edited.png"), ReadFile(work / "byhand.png"));
    }
}

/// A case's name as a test's: letters, digits and underscores.
template <class Info>
std::string CaseName(const Info& info) {
    std::string name = info.param.name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Vantrel, Edits, ::testing::ValuesIn(editCases),
                         CaseName<::testing::TestParamInfo<EditCase>>);

using EditedValue = VantrelTest;

TEST_F(EditedValue, WorkedOutByHand) {
    Write("curve.json", R"~({ "format": "vantrel-scene/1", "output": "c",
        "nodes": [ { "id": "c", "type": "Curve3", "params": { "In": [0.2, 0.7, 1.4] },
                     "curves": { "Curve": { "red": [[0, 1], [1, 0]], "green": [[0, 0], [1, 0.5]],
                                            "blue": [[0, 0.5], [2, 0.25]] } } } ] })~");
    // Red 1 - 0.6, green 0.2 / 2, blue 0.5 - 1 / 8.
    const RunResult run = Vantrel({"eval", "curve.json", "--set", "c.In=[0.6, 0.2, 1]"}, "0 0 0\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "0.4 0.1 0.375\n");
}

/// Options refused before the scene is checked, or that have no scene file to match.
struct RefusalCase {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> said;  ///< texts the message must hold
};

void PrintTo(const RefusalCase& refusal, std::ostream* out) {
    *out << refusal.name;
}

const RefusalCase refusalCases[] = {
    {"set-not-json",
     {"eval", "plain.json", "--set", "lattice.Subdivision=many"},
     {"vantrel: --set lattice.Subdivision=many: expected a value written as in a scene file", "line 1"}},
    {"set-no-node",
     {"render", "plain.json", "--set", "nowhere.Subdivision=3"},
     {"--set nowhere.Subdivision=3: expected the id of a node of plain.json", "\"nowhere\"",
      "the ids are \"lattice\" and \"paint\""}},
    {"set-no-dot", {"eval", "plain.json", "--set", "Subdivision=3"}, {"--set: expected ID.PARAM=VALUE"}},
    {"set-no-value",
     {"eval", "plain.json", "--set", "lattice.Subdivision"},
     {"--set: expected ID.PARAM=VALUE"}},
    {"set-no-param", {"eval", "plain.json", "--set", "lattice.=3"}, {"--set: expected ID.PARAM=VALUE"}},
    {"set-unknown-param",
     {"eval", "plain.json", "--set", "lattice.Size=3"},
     {"(with --set lattice.Size=3): /nodes/0/params/Size: expected one of the parameters"}},
    {"region-on-eval", {"eval", "plain.json", "--region=0,0,1,1"}, {"--region"}},
    {"region-three", {"render", "plain.json", "--region=0,0,1"}, {"--region: expected four numbers A,B,C,D"}},
    {"region-five", {"render", "plain.json", "--region=0,0,1,1,1"}, {"--region: expected four numbers"}},
    {"region-word", {"render", "plain.json", "--region=0,0,1,x"}, {"--region: expected four numbers"}},
    {"region-infinite", {"render", "plain.json", "--region=0,0,1,inf"}, {"--region: expected four numbers"}},
    {"region-reversed", {"render", "plain.json", "--region=1,0,0,1"}, {"--region: expected A below C"}},
    {"region-flat",
     {"render", "plain.json", "--region=0,1,1,1"},
     {"--region: expected A below C and B below D"}},
    {"region-beyond-sphere",
     {"render", "sphere.json", "--region=-90,0,0,91"},
     {"--region: the scene's domain is the sphere", "-90 to 90"}},
    {"region-beyond-longitude", {"render", "sphere.json", "--region=-181,0,0,45"}, {"-180 to 180"}},
};

class Refusals : public VantrelTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusals, NameTheOption) {
    Write("plain.json", SceneOf({}));
    Write("sphere.json", R"({ "format": "vantrel-scene/1", "output": "c",
        "nodes": [ { "id": "c", "type": "Curve3" } ], "domain": { "kind": "sphere" } })");
    const RunResult run = Vantrel(GetParam().arguments, "0 0 0\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    for (const std::string& text : GetParam().said)
        EXPECT_NE(run.err.find(text), std::string::npos) << "wanted: " << text << "\ngot: " << run.err;
    EXPECT_EQ(WorkFiles(), (std::vector<std::string>{"plain.json", "sphere.json"}));
}

INSTANTIATE_TEST_SUITE_P(Vantrel, Refusals, ::testing::ValuesIn(refusalCases),
                         CaseName<::testing::TestParamInfo<RefusalCase>>);

}  // namespace
}  // namespace vantrel::test
