// vantrel with the modules it is given: the product's module and the host's node library, by
// --module and VANTREL_MODULE, alone, together and twice.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/vantrel_run.h"

namespace vantrel::test {
namespace {

using Modules = VantrelTest;

// The modules given are the modules loaded: the product's alone refuses the host's nodes, both (in
// either order, by option or in VANTREL_MODULE) take them, and one given twice offers its types twice.
TEST_F(Modules, GivenAreExactlyTheModulesLoaded) {
    Write("remap.json", R"({ "format": "vantrel-scene/1", "output": "r",
                             "nodes": [ { "id": "r", "type": "Remap", "params": { "Value": 0.25 } } ] })");
    const std::string product = VANTREL_MODULE_PATH;
    const std::string nodes = QUIB_NODES_PATH;
    const struct {
        std::vector<std::string> modules;
        std::vector<std::string> environment;
        const char* error;  ///< null: the scene evaluates
    } cases[] = {
        {{}, {}, nullptr},
        {{"--module", product}, {}, "expected a node type of the loaded modules"},
        {{"--module", nodes, "--module", product}, {}, nullptr},
        {{}, {"VANTREL_MODULE=" + product}, "expected a node type of the loaded modules"},
        {{}, {"VANTREL_MODULE=" + product + ":" + nodes}, nullptr},
        {{}, {"VANTREL_MODULE=:" + product + "::"}, "expected a node type of the loaded modules"},
        {{}, {"VANTREL_MODULE=::"}, nullptr},  // names nothing: the two beside vantrel
        {{"--module", product}, {"VANTREL_MODULE=" + product + ":" + nodes}, "expected a node type"},
        {{"--module", nodes, "--module", nodes}, {}, "offers the node type \"Remap\", which"},
    };
    for (const auto& each : cases) {
        std::vector<std::string> arguments = each.modules;
        arguments.insert(arguments.end(), {"eval", "remap.json", "--type", "double"});
        const RunResult run = Vantrel(arguments, "0 0 0\n", each.environment);
        SCOPED_TRACE(::testing::PrintToString(arguments) + ::testing::PrintToString(each.environment));
        if (each.error == nullptr) {
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.out, "0.25\n");
        } else {
            EXPECT_EQ(run.status, 2);
            EXPECT_NE(run.err.find(each.error), std::string::npos) << run.err;
        }
    }
    const RunResult run = Vantrel({"list", "--module", product});
    EXPECT_EQ(run.out.find("Remap"), std::string::npos);
}

}  // namespace
}  // namespace vantrel::test
