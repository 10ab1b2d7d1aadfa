// `vantrel list` and the command line itself, run as a user runs them: the node types of both modules,
// in text and JSON, where the modules come from, and the usage that is refused.

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/curve_holder.h"
#include "host/gradient.h"
#include "host/param.h"
#include "quib/module_loader.h"
#include "quib/param_choices.h"
#include "tests/loaded_module.h"
#include "tests/vantrel_run.h"

namespace vantrel::test {
namespace {

using nlohmann::json;

using List = VantrelTest;

/// Each of `node`'s parameters as the listing `params` gives it: name, flag, style, choices, range.
void ExpectParamsListed(const json& params, const Function& node) {
    ASSERT_EQ(params.size(), node.Params().size());
    for (std::size_t p = 0; p < node.Params().size(); ++p) {
        const Param& param = *node.Params()[p];
        const json& listed = params[p];
        EXPECT_EQ(listed["name"], param.Name());
        EXPECT_EQ(listed["flag"], param.ParamFlag) << param.Name();
        EXPECT_EQ(listed["style"], param.ParamStyle) << param.Name();
        const std::vector<quib::Choice> choices = quib::ChoicesOf(param);
        ASSERT_EQ(listed.contains("choices"), !choices.empty()) << param.Name();
        for (std::size_t c = 0; c < choices.size(); ++c) {
            EXPECT_EQ(listed["choices"][c], json({{"value", choices[c].value}, {"label", choices[c].label}}))
                << param.Name();
        }
        const json& range = listed["range"];
        ASSERT_EQ(range.size(), 2u) << param.Name();
        for (int c = 0; c < param.ComponentCount(); ++c) {
            const json low = range[0].is_array() ? range[0][c] : range[0];
            const json high = range[1].is_array() ? range[1][c] : range[1];
            EXPECT_EQ(low.get<double>(), param.Minimum()[c]) << param.Name();
            EXPECT_EQ(high.get<double>(), param.Maximum()[c]) << param.Name();
        }
    }
}

TEST_F(List, JsonDescribesEveryTypeOfBothModules) {
    const RunResult run = Vantrel({"list", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const json listing = json::parse(run.out);
    EXPECT_EQ(listing["version"], 3.0);
    // The product's module first, then the host's node library, each type with its module.
    const std::vector<ModuleSet::Member>& modules = TheModules()->Modules();
    EXPECT_EQ(listing["module"], modules[0]->Path());
    EXPECT_EQ(listing["modules"], json::parse(R"([{"module": ")" + modules[0]->Path() + R"(", "version": 3.0},
                                                 {"module": ")" +
                                              modules[1]->Path() + R"(", "version": 1.0}])"));
    std::vector<std::pair<const quib::NodeType*, const quib::Module*>> types;
    for (const ModuleSet::Member& module : modules) {
        for (const quib::NodeType& type : module->Types())
            types.emplace_back(&type, module.get());
    }
    ASSERT_EQ(listing["types"].size(), 12u);
    ASSERT_EQ(listing["types"].size(), types.size());
    for (std::size_t i = 0; i < types.size(); ++i) {
        const json& entry = listing["types"][i];
        const quib::NodeType& type = *types[i].first;
        SCOPED_TRACE(type.typeName);
        std::unique_ptr<Function> node = type.Create();
        EXPECT_EQ(entry["module"], types[i].second->Path());
        EXPECT_EQ(entry["category"], i < 5 ? "Nodes-Vantrel" : "Nodes-Quib");
        EXPECT_EQ(entry["index"], type.index);
        EXPECT_EQ(
            entry["classId"], "0x" + [&] {
                std::ostringstream hex;
                hex << std::hex << type.classId;
                return hex.str();
            }());
        EXPECT_EQ(entry["name"], type.typeName);
        EXPECT_EQ(entry["nodeName"], node->TypeName());
        ExpectParamsListed(entry["params"], *node);
        ASSERT_EQ(entry["curves"].size(), node->Curves().size());
        for (std::size_t c = 0; c < node->Curves().size(); ++c) {
            EXPECT_EQ(entry["curves"][c]["name"], node->Curves()[c]->Name());
            EXPECT_EQ(entry["curves"][c]["inputRange"][1], node->Curves()[c]->InputHigh());
        }
        ASSERT_EQ(entry["gradients"].size(), node->Gradients().size());
    }
    // A few defaults, as a scene would write them.
    EXPECT_EQ(listing["types"][0]["params"][1]["default"], 10);
    EXPECT_EQ(listing["types"][1]["params"][1]["default"], json::array({1.0, 1.0, 1.0, 1.0}));
    EXPECT_EQ(listing["types"][4]["params"][3]["default"], 0.1);
    EXPECT_EQ(listing["types"][2]["curves"][0]["form"], "rgb");
    // Ranges: the lattice mode's narrow one, the full int and double ones, a colour's per channel.
    EXPECT_EQ(listing["types"][0]["params"][3]["range"], json::array({2, 3}));
    // The lattice's mode as a list box, its rescaling as a switch.
    EXPECT_EQ(listing["types"][0]["params"][3]["choices"],
              json::parse(R"([{"value": 2, "label": "plane"}, {"value": 3, "label": "sphere"}])"));
    EXPECT_EQ(listing["types"][0]["params"][2]["style"], 3);
    EXPECT_EQ(listing["types"][0]["params"][2]["flag"], 0);
    EXPECT_EQ(listing["types"][0]["params"][1]["range"],
              json::array({std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}));
    const double most = std::numeric_limits<double>::max();
    EXPECT_EQ(listing["types"][4]["params"][3]["range"], json::array({-most, most}));
    EXPECT_EQ(listing["types"][2]["params"][0]["range"],
              json::array({json::array({-most, -most, -most}), json::array({most, most, most})}));
    EXPECT_EQ(listing["guide"], "docs/nodes.md");
    // The host's remap: its curve as a list box of three, its clamp as a switch.
    EXPECT_EQ(listing["types"][5]["name"], "Remap");
    EXPECT_EQ(listing["types"][5]["params"][6]["range"], json::array({0, 2}));
    EXPECT_EQ(listing["types"][5]["params"][6]["choices"][1],
              json::parse(R"({"value": 1, "label": "smooth step"})"));
    EXPECT_EQ(listing["types"][5]["params"][5]["style"], 3);
    EXPECT_EQ(listing["types"][8]["gradients"][0]["name"], "Gradient");
}

TEST_F(List, TextNamesTypesParametersCurvesAndGradients) {
    const RunResult run = Vantrel({"list"});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* expected :
         {"/VantrelFunctions.so, version 3\n\n[0] 0x92512342 \"Hexagonal lattice 3D(1)\"",
          "/QuibNodes.so, version 1\n\n[0] 0x51554e00 \"Remap\"\n    node name \"Remap\", category "
          "\"Nodes-Quib\"",
          "[6] 0x51554e06 \"Pick\"", "node name \"Hexagonal lattice 3D (1)\"",
          "What each node makes and what its parameters do: docs/nodes.md\n\n== ",
          "param \"(2=plane, 3=sphere)(how to make list box]\": int = 3, range 2 to 3, choices 2 = "
          "\"plane\", 3 = \"sphere\"\n",
          "param \"Subdivision\": int = 10, range -2147483648 to 2147483647\n",
          "param \"Radius\": double = 0.1, range -1.7976931348623157e+308 to "
          "1.7976931348623157e+308\n",
          "curve \"W1\": grey, input 0 to 0.5773502691896258", "[4] 0x92512346 \"Leapfrog fractal\"",
          "gradient \"W color\"",
          "param \"In\": Color = [0.5, 0.5, 0.5], range -1.7976931348623157e+308 to "
          "1.7976931348623157e+308 in each component\n"}) {
        EXPECT_NE(run.out.find(expected), std::string::npos) << expected;
    }
}

TEST_F(List, ModuleComesFromOptionThenEnvironment) {
    RunResult run = Vantrel({"list", "--module", "/nonexistent/module.so"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("/nonexistent/module.so"), std::string::npos) << run.err;
    run = Vantrel({"list"}, "", {"VANTREL_MODULE=/nonexistent/env.so"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("/nonexistent/env.so"), std::string::npos) << run.err;
    // The option wins over the environment.
    run = Vantrel({"--module", VANTREL_MODULE_PATH, "list"}, "", {"VANTREL_MODULE=/nonexistent/env.so"});
    EXPECT_EQ(run.status, 0) << run.err;
    Write("not-a-module.so", "text");
    run = Vantrel({"list", "--module", "not-a-module.so"});
    EXPECT_EQ(run.status, 2);
}

using CommandLine = VantrelTest;

TEST_F(CommandLine, VersionAndHelp) {
    RunResult run = Vantrel({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "vantrel 3.0\n");
    for (const char* command : {"list", "eval", "render"}) {
        run = Vantrel({command, "--help"});
        EXPECT_EQ(run.status, 0) << command;
        EXPECT_NE(run.out.find(std::string("Usage: vantrel ") + command), std::string::npos) << run.out;
    }
    run = Vantrel({"--help"});
    EXPECT_EQ(run.status, 0);
}

TEST_F(CommandLine, BadUsageIsStatusTwo) {
    Write("scene.json", curveScene);
    Write("tall.json",
          R"~({ "format": "vantrel-scene/1", "output": "c", "nodes": [ { "id": "c", "type": "Curve3" } ],
                             "domain": { "kind": "plane", "min": [0, 0], "max": [1, 1e7] } })~");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"draw"},
        {"eval"},
        {"eval", "scene.json", "--type", "colour"},
        {"eval", "scene.json", "--threads", "0"},
        {"list", "--verbose"},
        {"render", "scene.json", "--size", "100x"},
        {"render", "scene.json", "--size", "0x10"},
        {"render", "scene.json", "--size", "10x10x"},
        {"render", "scene.json", "-o", "wide.exr", "--size", "40000000x10"},
        {"render", "scene.json", "--depth", "12"},
        {"render", "scene.json", "--threads", "0"},
        {"render", "scene.json", "--type", "string"},
        {"render", "scene.json", "-o", "picture.jpg"},
        {"render", "scene.json", "-o", "scene.json"},
        {"render", "tall.json"},  // the domain's shape asks for more rows than an image may have
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        const RunResult run = Vantrel(arguments);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_FALSE(run.err.empty());
    }
    EXPECT_EQ(ReadFile(work / "scene.json"), curveScene) << "the scene is never overwritten";
}

}  // namespace
}  // namespace vantrel::test
