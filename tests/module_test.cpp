// The built module as a host sees it: its dynamic symbol table, its three exports through dlopen and
// through the host's loader, and the answers of its descriptors and of the nodes they create; and the
// host's node library, built the same way.

#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/curve_holder.h"
#include "host/function.h"
#include "host/gradient.h"
#include "host/param.h"
#include "host/plugin.h"
#include "quib/module_loader.h"
#include "quib/param_choices.h"

namespace {

const std::string modulePath = VANTREL_MODULE_PATH;
const std::string nodesPath = QUIB_NODES_PATH;

/// The names of the symbols a shared library defines in its dynamic symbol table (what it exports), or
/// with `defined` false those it takes from other libraries.
std::set<std::string> DynamicSymbols(const std::string& path, bool defined = true) {
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
            if ((symbol.st_shndx != SHN_UNDEF) == defined && symbol.st_name != 0)
                names.insert(strings + symbol.st_name);
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

TEST(ModuleFile, BothExportExactlyThreeSymbolsAndCallNoMathOfTheCLibrary) {
    // The C library's functions differ between platforms in their last bits; the processor's
    // instructions (sqrt, floor) and written-out arithmetic do not.
    const std::set<std::string> math = {
        "sin",   "cos",  "tan",       "asin",  "acos", "atan",  "atan2", "sinh",   "cosh",      "tanh",
        "exp",   "exp2", "expm1",     "log",   "log2", "log10", "log1p", "pow",    "sqrt",      "cbrt",
        "hypot", "fmod", "remainder", "floor", "ceil", "trunc", "round", "lround", "nearbyint", "rint"};
    for (const std::string& path : {modulePath, nodesPath}) {
        EXPECT_EQ(DynamicSymbols(path), (std::set<std::string>{"NumPlugs", "Plugin", "Version"})) << path;
        for (const std::string& name : DynamicSymbols(path, false)) {
            const std::string plain =
                name.back() == 'f' || name.back() == 'l' ? name.substr(0, name.size() - 1) : name;
            EXPECT_FALSE(math.contains(name) || math.contains(plain)) << path << " calls " << name;
        }
    }
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

// What each node type hands to the host when its node is built, in creation order, written out here
// from the node guide rather than from the module's tables; a choice parameter's entries are those the
// host reads from its name.

constexpr double most = std::numeric_limits<double>::max();
constexpr double intLow = INT_MIN, intHigh = INT_MAX;
const double inverseSqrt3 = 1 / std::sqrt(3.0);

struct ParamExpected {
    const char* name;
    PTYPE type;
    Param::Components value;
    double low, high;  ///< in every component
    int flag, style;
    std::vector<quib::Choice> choices = {};  ///< as the host reads them from the name
};

struct CurveExpected {
    const char* name;
    int form;
    double low, high;
};

struct NodeExpected {
    std::vector<ParamExpected> params;
    std::vector<CurveExpected> curves;
    std::vector<std::string> gradients;
};

const char* const modeName = "(2=plane, 3=sphere)(how to make list box]";

/// By registry index.
const NodeExpected builds[] = {
    {{{"Position", PTYPE::Vec3d, {0, 0, 0}, -most, most, 1, 0},
      {"Subdivision", PTYPE::Int, {10}, intLow, intHigh, 1, 0},
      {"Rescale result?", PTYPE::Int, {1}, intLow, intHigh, 0, 3},
      {modeName, PTYPE::Int, {3}, 2, 3, 0, 0, {{2, "plane"}, {3, "sphere"}}}},
     {{"W1", 1, 0, inverseSqrt3}, {"W2", 1, 0.5, 1}, {"W3", 1, inverseSqrt3, 1}},
     {}},
    {{{"In", PTYPE::Vec4d, {0, 0, 0, 0}, -most, most, 1, 0},
      {"Weights", PTYPE::Vec4d, {1, 1, 1, 1}, -most, most, 1, 0}},
     {},
     {"X color", "Y color", "Z color", "W color"}},
    {{{"In", PTYPE::Color, {0.5, 0.5, 0.5}, -most, most, 1, 0}}, {{"Curve", 3, 0, 1}}, {}},
    {{{"Position", PTYPE::Vec3d, {0, 0, 0}, -most, most, 1, 0},
      {"Distortion", PTYPE::Double, {0}, -most, most, 1, 0}},
     {},
     {}},
    {{{"A", PTYPE::Vec3d, {1, 0, 0}, -most, most, 1, 0},
      {"B", PTYPE::Vec3d, {0, 1, 0}, -most, most, 1, 0},
      {"C", PTYPE::Vec3d, {0, 0, 1}, -most, most, 1, 0},
      {"Radius", PTYPE::Double, {0.1}, -most, most, 1, 0},
      {"Iterations", PTYPE::Int, {100}, intLow, intHigh, 1, 0}},
     {},
     {}},
};
static_assert(std::size(builds) == typeCount);

TEST_F(Exports, NodesBuildTheirParametersCurvesAndGradients) {
    for (int index = 0; index < typeCount; ++index) {
        const NodeExpected& expected = builds[index];
        SCOPED_TRACE(registry[index].plugName);
        const Descriptor descriptor = Make(index);
        ASSERT_NE(descriptor, nullptr);
        std::unique_ptr<Plugged> created(descriptor->Create());
        auto* node = dynamic_cast<Function*>(created.get());
        ASSERT_NE(node, nullptr);

        ASSERT_EQ(node->Params().size(), expected.params.size());
        for (std::size_t i = 0; i < expected.params.size(); ++i) {
            const ParamExpected& want = expected.params[i];
            const Param& param = *node->Params()[i];
            SCOPED_TRACE(want.name);
            EXPECT_EQ(param.Name(), want.name);
            EXPECT_EQ(param.Owner(), node);
            ASSERT_EQ(param.Type(), want.type);
            EXPECT_EQ(param.Constant(), want.value);
            for (int c = 0; c < param.ComponentCount(); ++c) {
                EXPECT_EQ(param.Minimum()[c], want.low) << "component " << c;
                EXPECT_EQ(param.Maximum()[c], want.high) << "component " << c;
            }
            EXPECT_EQ(param.ParamFlag, want.flag);
            EXPECT_EQ(param.ParamStyle, want.style);
            EXPECT_EQ(quib::ChoicesOf(param), want.choices);
        }

        ASSERT_EQ(node->Curves().size(), expected.curves.size());
        for (std::size_t i = 0; i < expected.curves.size(); ++i) {
            const CurveHolder& curve = *node->Curves()[i];
            EXPECT_EQ(curve.Name(), expected.curves[i].name);
            EXPECT_EQ(curve.Form(), expected.curves[i].form) << curve.Name();
            EXPECT_EQ(curve.InputLow(), expected.curves[i].low) << curve.Name();
            EXPECT_EQ(curve.InputHigh(), expected.curves[i].high) << curve.Name();
        }
        ASSERT_EQ(node->Gradients().size(), expected.gradients.size());
        for (std::size_t i = 0; i < expected.gradients.size(); ++i)
            EXPECT_EQ(node->Gradients()[i]->Label(), expected.gradients[i]);
    }
}

// The host's node library: seven types of its own, filed apart from the module's.
TEST(HostLoader, FindsTheNodeLibrarysTypesByNameAndClassId) {
    const quib::Module nodes(nodesPath);
    EXPECT_EQ(nodes.Version(), 1.0f);
    const char* names[] = {"Remap", "Math", "Random", "Gradient map", "Mix", "Combine", "Pick"};
    ASSERT_EQ(nodes.Types().size(), std::size(names));
    for (int index = 0; index < static_cast<int>(std::size(names)); ++index) {
        const quib::NodeType& type = nodes.Types()[index];
        EXPECT_EQ(type.typeName, names[index]);
        EXPECT_EQ(type.classId, 0x51554E00u + index);
        EXPECT_EQ(nodes.Find(type.classId), &type);
        const std::unique_ptr<Function> node = type.Create();
        ASSERT_NE(node, nullptr) << names[index];
        EXPECT_EQ(node->Category(), "Nodes-Quib");
        const std::unique_ptr<Plugged> copy(node->Clone(0, 0));
        ASSERT_NE(copy, nullptr) << names[index];
        EXPECT_EQ(copy->TypeName(), names[index]);
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
