// The built module as a host sees it: its dynamic symbol table, its three exports through dlopen and
// through the host's loader, and the answers of its descriptors and of the nodes they create.

#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/function.h"
#include "host/plugin.h"
#include "quib/module_loader.h"

namespace {

const std::string modulePath = VANTREL_MODULE_PATH;

/// The names of the symbols a shared library defines in its dynamic symbol table (what it exports).
std::set<std::string> DefinedDynamicSymbols(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> image{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::set<std::string> names;
    if (image.size() < sizeof(Elf64_Ehdr)) return names;
    Elf64_Ehdr header;
    std::memcpy(&header, image.data(), sizeof header);
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    std::memcpy(sections.data(), image.data() + header.e_shoff, header.e_shnum * sizeof(Elf64_Shdr));
    for (const Elf64_Shdr& section : sections) {
        if (section.sh_type != SHT_DYNSYM) continue;
        const char* strings = image.data() + sections[section.sh_link].sh_offset;
        for (std::size_t offset = 0; offset < section.sh_size; offset += sizeof(Elf64_Sym)) {
            Elf64_Sym symbol;
            std::memcpy(&symbol, image.data() + section.sh_offset + offset, sizeof symbol);
            if (symbol.st_shndx != SHN_UNDEF) names.insert(strings + symbol.st_name);
        }
    }
    return names;
}

struct DescriptorRelease {
    void operator()(Plugin* descriptor) const { quib::ReleaseDescriptor(descriptor); }
};
using Descriptor = std::unique_ptr<Plugin, DescriptorRelease>;

/// The module opened with dlopen, and its three exports.
class Exports : public ::testing::Test {
protected:
    void SetUp() override {
        library = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        numPlugs = reinterpret_cast<NumPlugsFunction*>(dlsym(library, "NumPlugs"));
        plugin = reinterpret_cast<PluginFunction*>(dlsym(library, "Plugin"));
        version = reinterpret_cast<VersionFunction*>(dlsym(library, "Version"));
        ASSERT_NE(numPlugs, nullptr);
        ASSERT_NE(plugin, nullptr);
        ASSERT_NE(version, nullptr);
    }
    void TearDown() override {
        if (library) dlclose(library);
    }
    Descriptor Make(int index) { return Descriptor(plugin(index)); }

    void* library = nullptr;
    NumPlugsFunction* numPlugs = nullptr;
    PluginFunction* plugin = nullptr;
    VersionFunction* version = nullptr;
};

/// What a node type answers, by registry index.
struct TypeAnswers {
    unsigned int classId;
    const char* plugName;  ///< the descriptor's
    const char* nodeName;  ///< the node's own
    int paramObjTestOfOne;
    int paramObjCode;
    int paramObjMapOfSeven;
    int functionProperty;
};

const TypeAnswers registry[] = {
    {0x92512342, "Hexagonal lattice 3D(1)", "Hexagonal lattice 3D (1)", 0, -1, -1, 12},
    {0x92512343, "Vector to color", "Vector to color", 1, 1, 7, 0},
    {0x92512344, "Curve3", "Curve3", 1, 1, 7, 0},
    {0x92512345, "W Distortion", "W Distortion", 1, 1, 7, 0},
    {0x92512346, "Leapfrog fractal", "Leapfrog fractal", 1, 1, 7, 0},
};
constexpr int typeCount = std::size(registry);

TEST(ModuleFile, ExportsExactlyThreeSymbols) {
    EXPECT_EQ(DefinedDynamicSymbols(modulePath), (std::set<std::string>{"NumPlugs", "Plugin", "Version"}));
}

TEST_F(Exports, CountAndVersionNeverChange) {
    for (int call = 0; call < 3; ++call) {
        EXPECT_EQ(numPlugs(), typeCount);
        EXPECT_EQ(version(), 3.0f);
    }
}

TEST_F(Exports, PluginRefusesEveryIndexOutsideTheTable) {
    for (int index : {5, 6, -1, -5, INT_MAX, INT_MIN})
        EXPECT_EQ(plugin(index), nullptr) << index;
}

TEST_F(Exports, DescriptorsAnswerTheirTable) {
    for (int index = 0; index < typeCount; ++index) {
        const TypeAnswers& expected = registry[index];
        SCOPED_TRACE(expected.plugName);
        const Descriptor first = Make(index);
        const Descriptor second = Make(index);
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_NE(first.get(), second.get());
        for (Plugin* descriptor : {first.get(), second.get()}) {
            EXPECT_EQ(descriptor->ClassID(), expected.classId);
            EXPECT_EQ(descriptor->ObjectType(), 0);
            EXPECT_EQ(descriptor->ObjectTypeFamily(), 0);
            EXPECT_EQ(descriptor->TypeName(), expected.plugName);
            EXPECT_FALSE(descriptor->Hidden());
        }
    }
}

TEST_F(Exports, NodesAnswerTheirTable) {
    for (int index = 0; index < typeCount; ++index) {
        const TypeAnswers& expected = registry[index];
        SCOPED_TRACE(expected.plugName);
        const Descriptor descriptor = Make(index);
        ASSERT_NE(descriptor, nullptr);
        std::unique_ptr<Plugged> created(descriptor->Create());
        auto* node = dynamic_cast<Function*>(created.get());
        ASSERT_NE(node, nullptr);

        EXPECT_EQ(node->ClassID(), expected.classId);
        EXPECT_EQ(node->TypeName(), expected.nodeName);
        EXPECT_EQ(node->Name(), expected.nodeName);
        EXPECT_EQ(node->ObjectType(), 0);
        EXPECT_EQ(node->Category(), "Nodes-Vantrel");
        EXPECT_EQ(node->ParamObjFlag(), 1);
        EXPECT_EQ(node->ParamObjTest(1, 0), expected.paramObjTestOfOne);
        EXPECT_EQ(node->ParamObjTest(1, 9), expected.paramObjTestOfOne);
        EXPECT_EQ(node->ParamObjTest(0, 1), 0);
        EXPECT_EQ(node->ParamObjTest(2, 1), 0);
        EXPECT_EQ(node->ParamObjCode(0), expected.paramObjCode);
        EXPECT_EQ(node->ParamObjCode(5), expected.paramObjCode);
        EXPECT_EQ(node->ParamObjMap(3, 7), expected.paramObjMapOfSeven);
        EXPECT_EQ(node->FunctionFlag(), 1);
        EXPECT_EQ(node->FunctionProperty, expected.functionProperty);
    }
}

TEST(HostLoader, FindsEveryTypeByNameAndClassId) {
    const quib::Module module(modulePath);
    EXPECT_EQ(module.Version(), 3.0f);
    ASSERT_EQ(module.Types().size(), std::size(registry));
    for (int index = 0; index < typeCount; ++index) {
        const TypeAnswers& expected = registry[index];
        const quib::NodeType& type = module.Types()[index];
        EXPECT_EQ(type.index, index);
        EXPECT_EQ(type.classId, expected.classId);
        EXPECT_EQ(type.typeName, expected.plugName);
        EXPECT_EQ(module.Find(expected.plugName), &type);
        EXPECT_EQ(module.Find(expected.classId), &type);

        const std::unique_ptr<Function> node = type.Create();
        ASSERT_NE(node, nullptr) << expected.plugName;
        EXPECT_EQ(node->ClassID(), expected.classId);

        // A copy made by the host is a node of the same class, found through the descriptor.
        const std::unique_ptr<Plugged> copy(node->Clone(0, 0));
        ASSERT_NE(copy, nullptr) << expected.plugName;
        EXPECT_EQ(copy->ClassID(), expected.classId);
        EXPECT_EQ(copy->TypeName(), expected.nodeName);
    }
}

}  // namespace
