// The host runtime's module loader, with test modules that are whole or broken, and what a loaded
// module's descriptors make possible: creating nodes, cloning them, naming their type when stored.

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "quib/module_loader.h"
#include "quib/stored_form.h"
#include "tests/fixtures/quib_test_node.h"

namespace {

using json = quib::Json;

const std::string goodModule = QUIB_FIXTURE_MODULE;
const std::string twinModule = QUIB_FIXTURE_TWIN;  // the same types, in another file
const std::string nullPluginModule = QUIB_FIXTURE_NULL_PLUGIN;
const std::string noExportsModule = QUIB_FIXTURE_NO_EXPORTS;

/// The message of the ModuleError that loading `path` throws, or "" when it loads.
std::string LoadError(const std::string& path) {
    try {
        quib::Module module(path);
    } catch (const quib::Error& error) {
        return error.what();
    }
    return "";
}

TEST(ModuleLoader, RefusesFilesThatAreNotWholeModules) {
    const std::string textFile = (std::filesystem::temp_directory_path() / "quib_loader_test.txt").string();
    std::ofstream(textFile) << "not a library\n";
    struct Row {
        std::string path;
        std::string says;
    };
    const Row rows[] = {
        {textFile, "not a loadable library"},
#ifdef _WIN32  // no check of the file before the system's loader, whose message follows this
        {"/no/such/module.so", "not a loadable library: "},
#else
        {"/no/such/module.so", "cannot open the file: No such file or directory"},
#endif
        {noExportsModule, "no export NumPlugs"},
        {nullPluginModule, "Plugin(1) gave null, though NumPlugs gave 2"},
    };
    for (const Row& row : rows) {
        const std::string message = LoadError(row.path);
        EXPECT_EQ(message.rfind(row.path + ": ", 0), 0u) << message;
        EXPECT_NE(message.find(row.says), std::string::npos) << message;
    }
    std::remove(textFile.c_str());
    // The descriptor that the refused module did give is released and forgotten.
    EXPECT_EQ(quib::FindDescriptor(QuibTestNode::classId), nullptr);
}

TEST(ModuleLoader, ListsTypesAndRegistersThemWhileLoaded) {
    {
        const quib::Module module(goodModule);
        EXPECT_EQ(module.Version(), 1.5f);
        ASSERT_EQ(module.Types().size(), 2u);
        const quib::NodeType* type = module.Find(std::string(QuibTestNode::plugName));
        ASSERT_NE(type, nullptr);
        EXPECT_EQ(type, module.Find(QuibTestNode::classId));
        EXPECT_EQ(type->index, 0);
        EXPECT_EQ(module.Find("Test node"), nullptr) << "types are found by their descriptor's name";
        EXPECT_EQ(quib::FindDescriptor(QuibTestNode::classId), type->descriptor);

        const auto node = type->Create();
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->ClassID(), QuibTestNode::classId);
        EXPECT_EQ(module.Types()[1].Create(), nullptr) << "an object that is not a function node";
    }
    EXPECT_EQ(quib::FindDescriptor(QuibTestNode::classId), nullptr);
}

// A class id names one node type, which Clone and the stored form find by it: a second library that
// offers one of the ids loaded now is refused, naming both files. The same file loaded again is the
// same library, and offers the same types.
TEST(ModuleLoader, RefusesASecondLibraryOfferingAClassId) {
    {
        const quib::Module first(goodModule);
        EXPECT_EQ(LoadError(twinModule), twinModule +
                                             ": class id 0x51b00001 of \"Quib test node\" is offered " +
                                             "already by " + goodModule);
        EXPECT_EQ(quib::FindDescriptor(QuibTestNode::classId), first.Types()[0].descriptor)
            << "the refused library's descriptors are gone";
        const quib::Module again(goodModule);
        EXPECT_EQ(again.Types().size(), 2u);
    }
    const quib::Module twin(twinModule);  // once the first has gone
    EXPECT_EQ(quib::FindDescriptor(QuibTestNode::classId), twin.Types()[0].descriptor);
}

/// The node's real output at a few positions, as bits.
std::vector<std::uint64_t> Fingerprint(Function& node) {
    std::vector<std::uint64_t> bits;
    for (double x = -2.0; x < 3.0; x += 0.37) {
        FunContext context{{x, 0.5 - x, x * x}};
        double value;
        node.Eval(&value, &context);
        bits.push_back(std::bit_cast<std::uint64_t>(value));
    }
    return bits;
}

/// The stored form, with links to `source` written as "source".
json Saved(Function& node, const Function* source = nullptr) {
    QuibOutputStream out;
    out.nodeId = [&](const Function* f) { return f == source ? "source" : "?"; };
    node.Save(out);
    return out.object;
}

TEST(ModuleLoader, CloneCopiesEverySetting) {
    const quib::Module module(goodModule);
    const quib::NodeType& type = *module.Find(QuibTestNode::classId);
    const auto source = type.Create();
    const auto node = type.Create();
    const auto& params = node->Params();
    params[QuibTestNode::count]->SetConstant({-4, 0, 0, 0});
    params[QuibTestNode::count]->ParamFlag = 5;
    params[QuibTestNode::offset]->LinkTo(source.get());
    params[QuibTestNode::direction]->LinkToPosition();
    params[QuibTestNode::tint]->ParamStyle = 2;
    static_cast<SParam<Vec4d>*>(params[QuibTestNode::weights])
        ->SetRange(Vec4d(-1, -1, -1, -1), Vec4d(1, 1, 1, 1));
    node->Curves()[0]->SetInputRange(0, 10);
    node->Curves()[0]->SetPoints(0, {{0, 1}, {2, 0.5}, {3, 0.25}});
    node->Curves()[1]->SetPoints(1, {{0.5, 0.5}});
    node->Gradients()[0]->SetStops({{0, {1, 0, 0}}, {5, {0, 0, 1}}});
    node->FunctionProperty = 3;

    const std::unique_ptr<Plugged> copied(node->Clone(0, 0));
    auto* copy = dynamic_cast<Function*>(copied.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Saved(*copy, source.get()), Saved(*node, source.get()));
    EXPECT_EQ(Fingerprint(*copy), Fingerprint(*node));
    EXPECT_EQ(copy->FunctionProperty, 3);
    EXPECT_EQ(copy->Curves()[0]->InputHigh(), 10);
    for (std::size_t i = 0; i < params.size(); ++i) {
        const Param& a = *params[i];
        const Param& b = *copy->Params()[i];
        EXPECT_EQ(a.ParamFlag, b.ParamFlag);
        EXPECT_EQ(a.ParamStyle, b.ParamStyle);
        EXPECT_EQ(a.Minimum(), b.Minimum());
        EXPECT_EQ(a.Maximum(), b.Maximum());
        EXPECT_EQ(a.LinkedNode(), b.LinkedNode());
    }
    EXPECT_NE(std::unique_ptr<Plugged>(QuibTestNode().Clone(0, 0)), nullptr)
        << "any node of a registered class";
}

TEST(ModuleLoader, StoredTypeIsTheDescriptorsName) {
    const quib::Module module(goodModule);
    const auto node = module.Find(QuibTestNode::classId)->Create();
    const json stored = Saved(*node);
    EXPECT_EQ(stored["type"], QuibTestNode::plugName);
    for (const char* type : {QuibTestNode::plugName, "Test node", "0x51b00001"}) {
        const json object = {{"type", type}};
        QuibInputStream in(object);
        node->Load(in);
        EXPECT_FALSE(in.failure) << type;
    }
}

TEST(ModuleLoader, CloneWithoutARegisteredClassGivesNull) {
    EXPECT_EQ(QuibTestNode().Clone(0, 0), nullptr);
}

}  // namespace
