// Loader and lifetime faults: broken modules give errors that name the file, and nothing crashes; the
// real module loads and unloads a thousand times in one process and keeps its category label working;
// an allocation that fails gives null from `Plugin` and `Create`, or std::bad_alloc from a node's
// constructor, and nothing leaks. The counting operator new shows that no allocation of C++ code stays
// live; the asan preset runs this program under LeakSanitizer, which sees every allocation.

#include <dlfcn.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "host/function.h"
#include "host/plugin.h"
#include "quib/module_loader.h"
#include "scene/scene.h"
#include "scene/scene_format.h"
#include "tests/allocation_counter.h"
#include "tests/vantrel_run.h"

namespace vantrel::test {
namespace {

const std::string modulePath = VANTREL_MODULE_PATH;
const std::string nullCreateModule = QUIB_FIXTURE_NULL_CREATE;

/// The real module's first class id and type count, and the label its nodes are filed under.
constexpr unsigned int firstClassId = 0x92512342;
constexpr int typeCount = 5;
const std::string category = "Nodes-Vantrel";

/// Whether the library at `path` is in the process now. dlopen with RTLD_NOLOAD finds it without
/// loading it, and takes a reference that is given back at once.
bool IsLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

struct DescriptorRelease {
    void operator()(Plugin* descriptor) const { quib::ReleaseDescriptor(descriptor); }
};
using Descriptor = std::unique_ptr<Plugin, DescriptorRelease>;

/// A module opened with dlopen alone, and its `Plugin` export.
class RawModule {
public:
    explicit RawModule(const std::string& path) : library(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (library) plugin = reinterpret_cast<PluginFunction*>(dlsym(library, "Plugin"));
    }
    ~RawModule() {
        if (library) dlclose(library);
    }
    RawModule(const RawModule&) = delete;
    RawModule& operator=(const RawModule&) = delete;

    PluginFunction* plugin = nullptr;

private:
    void* library;
};

// Broken modules: the host loader and vantrel refuse them, naming the file; none crashes the process.

using BrokenModule = VantrelTest;

/// The real module's bytes, cut to `length` or with `bytes` written at `offset`.
std::string ModuleBytes(std::size_t length = std::string::npos, std::size_t offset = 0,
                        std::string bytes = "") {
    std::string module = ReadFile(modulePath).substr(0, length);
    return module.replace(offset, bytes.size(), bytes);
}

TEST_F(BrokenModule, VantrelRefusesItNamingTheFile) {
    struct Row {
        std::string path;
        std::string says;
    };
    // Files in the folder vantrel runs in, named as a folder's files, which dlopen does not search for.
    // ELF header fields: the class at byte 4, the file type at 16, the machine at 18 (little-endian).
    const Row rows[] = {
        {"./" + Write("module.so", "not a library\n"), "not a loadable library: expected an ELF file"},
        {"./" + Write("empty.so", ""), "not a loadable library: expected an ELF file"},
        // Cut short, as a copy that did not finish: the system loader would map pages past the end.
        {"./" + Write("cut-4096.so", ModuleBytes(4096)),
         "not a loadable library: the file is cut short: it has 4096 "
         "bytes, segment "},
        {"./" + Write("cut-1000.so", ModuleBytes(1000)),
         "not a loadable library: the file is cut short: it has 1000 bytes, segment "},
        {"./" + Write("cut-header.so", ModuleBytes(64)),
         "not a loadable library: the file is cut short: it has 64 bytes, its program headers end at "},
        {"./" + Write("class32.so", ModuleBytes(std::string::npos, 4, "\x01")),
         "not a loadable library: an ELF file of another word size or byte order than this host's"},
        {"./" + Write("object.so", ModuleBytes(std::string::npos, 16, std::string("\x01\x00", 2))),
         "not a loadable library: an ELF file of type 1, expected a shared library (3)"},
        {"./" + Write("arm.so", ModuleBytes(std::string::npos, 18, std::string("\xb7\x00", 2))),
         "not a loadable library: an ELF file for machine 183, expected this host's"},
        {QUIB_FIXTURE_NO_EXPORTS, "no export NumPlugs"},
        {QUIB_FIXTURE_NULL_PLUGIN, "Plugin(1) gave null, though NumPlugs gave 2"},
        {QUIB_FIXTURE_ALL_INTS, "NumPlugs gave 2147483647, expected 0 to 65536"},
        {QUIB_FIXTURE_COUNT_THROWS, "NumPlugs threw: no count today"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        // The module is loaded before the scene is read: eval needs no scene file to refuse it.
        for (const std::vector<std::string>& command :
             {std::vector<std::string>{"list"}, {"eval", "scene.json"}}) {
            std::vector<std::string> arguments = {"--module", row.path};
            arguments.insert(arguments.end(), command.begin(), command.end());
            const RunResult run = Vantrel(arguments, "0 0 0\n");
            EXPECT_EQ(run.status, 2) << command[0];
            EXPECT_EQ(run.err.rfind("vantrel: " + row.path + ": " + row.says, 0), 0u) << run.err;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
            EXPECT_EQ(run.out, "");
        }
    }
}

TEST(NullCreate, ThroughDlopenTheDescriptorGivesNull) {
    const RawModule module(nullCreateModule);
    ASSERT_NE(module.plugin, nullptr) << dlerror();
    const Descriptor descriptor(module.plugin(0));
    ASSERT_NE(descriptor, nullptr);
    EXPECT_EQ(descriptor->Create(), nullptr);
    EXPECT_EQ(module.plugin(1), nullptr);
}

TEST(NullCreate, TheHostLoaderLoadsItAndTheSceneNamesTheNode) {
    const auto module = std::make_shared<const quib::Module>(nullCreateModule);
    ASSERT_EQ(module->Types().size(), 1u);
    EXPECT_EQ(module->Types()[0].Create(), nullptr);
    try {
        Scene::FromDocument(JsonDocument::Parse(R"({ "format": "vantrel-scene/1", "output": "a",
                                                   "nodes": [ { "id": "a", "type": "Uncreatable node" } ] })",
                                                sceneNesting),
                            "null.json", module);
        ADD_FAILURE() << "a scene of a node that cannot be created";
    } catch (const quib::Error& error) {
        EXPECT_EQ(error.what(),
                  "null.json: line 2, column 76: /nodes/0/type: expected a type whose descriptor creates a "
                  "function node; the descriptor of \"Uncreatable node\" in " +
                      nullCreateModule + " created none");
    }
}

using NullCreateProgram = VantrelTest;

TEST_F(NullCreateProgram, ListsTheTypeAsUncreatableAndRefusesItsScene) {
    RunResult run = Vantrel({"list", "--module", nullCreateModule});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind(nullCreateModule + ", version 1\n", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("\"Uncreatable node\"\n    the descriptor created no function node\n"),
              std::string::npos)
        << run.out;

    Write("scene.json", R"({ "format": "vantrel-scene/1", "output": "a",
                             "nodes": [ { "id": "a", "type": "Uncreatable node" } ] })");
    for (const char* command : {"eval", "render"}) {
        run = Vantrel({command, "scene.json", "--module", nullCreateModule}, "0 0 0\n");
        EXPECT_EQ(run.status, 2) << command;
        EXPECT_EQ(run.err,
                  "vantrel: scene.json: line 2, column 54: /nodes/0/type: expected a type whose descriptor "
                  "creates a function node; the descriptor of \"Uncreatable node\" in " +
                      nullCreateModule + " created none\n");
    }
    EXPECT_EQ(WorkFiles(), std::vector<std::string>{"scene.json"}) << "no image of a failed render";
}

// Loading and unloading the real module many times.

constexpr int loadCount = 1000;

/// How many of the module's types failed to give a node filed under the category, through `create`.
template <class Create>
int TypesWithoutCategory(Create create) {
    int failures = 0;
    for (int index = 0; index < typeCount; ++index) {
        const std::unique_ptr<Function> node = create(index);
        failures += !node || node->Category() != category;
    }
    return failures;
}

/// Runs `loadOnce` `loadCount` times after one run to warm up, and checks that each run left the
/// module unloaded, its types working, and no allocation live.
template <class LoadOnce>
void LoadAndUnloadMany(LoadOnce loadOnce) {
    EXPECT_EQ(loadOnce(), 0);
    ASSERT_FALSE(IsLoaded(modulePath)) << "the module stays in the process: unloading it tests nothing";
    const long before = LiveAllocations();
    int failures = 0;
    int stayedLoaded = 0;
    for (int load = 0; load < loadCount; ++load) {
        failures += loadOnce();
        stayedLoaded += IsLoaded(modulePath);
    }
    EXPECT_EQ(failures, 0) << "types without a node filed under \"" << category << "\"";
    EXPECT_EQ(stayedLoaded, 0);
    EXPECT_EQ(LiveAllocations(), before);
}

TEST(LoadAndUnload, AThousandTimesThroughTheHostLoader) {
    LoadAndUnloadMany([] {
        const quib::Module module(modulePath);
        if (module.Types().size() != typeCount) return typeCount;
        return TypesWithoutCategory([&](int index) { return module.Types()[index].Create(); });
    });
    EXPECT_EQ(quib::FindDescriptor(firstClassId), nullptr) << "the unloaded module's descriptors are gone";
}

TEST(LoadAndUnload, AThousandTimesThroughDlopen) {
    LoadAndUnloadMany([] {
        const RawModule module(modulePath);
        if (!module.plugin) return typeCount;
        return TypesWithoutCategory([&](int index) {
            const Descriptor descriptor(module.plugin(index));
            Plugged* created = descriptor ? descriptor->Create() : nullptr;
            auto* node = dynamic_cast<Function*>(created);
            if (!node) delete created;
            return std::unique_ptr<Function>(node);
        });
    });
}

// Allocation failure: each allocation of a call is made to fail in turn, until the call makes all it
// needs. The call must fail soundly, and leave no allocation live.

/// What one call did while allocation `failing` (0 the first) was made to fail.
struct Attempt {
    bool failed = false;  ///< the call reached the failing allocation
    bool threw = false;   ///< it ended with std::bad_alloc
};

/// Calls `call` with allocation `failing` made to fail; `call` keeps what it made until it returns.
template <class Call>
Attempt Try(long failing, Call call) {
    const long before = AllocationCount();
    Attempt attempt;
    FailAllocationIn(failing);
    try {
        call();
    } catch (const std::bad_alloc&) {
        attempt.threw = true;
    }
    FailAllocationIn(-1);
    attempt.failed = AllocationCount() - before > failing;
    return attempt;
}

/// Fails each allocation of `call` in turn; `check(failing, attempt)` judges each attempt that failed.
/// Returns the number of allocations the call needs.
template <class Call, class Check>
long FailEachAllocation(Call call, Check check) {
    Try(-1, call);  // a first call may set up what lives as long as the process (the host's registry)
    for (long failing = 0;; ++failing) {
        const long before = LiveAllocations();
        const Attempt attempt = Try(failing, call);
        EXPECT_EQ(LiveAllocations(), before) << "allocation " << failing << " failed and one was kept";
        if (!attempt.failed) {
            EXPECT_FALSE(attempt.threw);
            return failing;
        }
        check(failing, attempt);
    }
}

TEST(AllocationFailure, PluginGivesNull) {
    const RawModule module(modulePath);
    ASSERT_NE(module.plugin, nullptr);
    for (int index = 0; index < typeCount; ++index) {
        Plugin* made = nullptr;
        const long needed = FailEachAllocation(
            [&] {
                made = module.plugin(index);
                if (made) quib::ReleaseDescriptor(made);
            },
            [&](long, const Attempt& attempt) {
                EXPECT_FALSE(attempt.threw) << "Plugin(" << index << ") let an exception out";
                EXPECT_EQ(made, nullptr) << "Plugin(" << index << ")";
            });
        EXPECT_EQ(needed, 1) << "Plugin(" << index << ") allocates its descriptor only";
    }
}

TEST(AllocationFailure, CreateGivesNullOrPassesOnBadAlloc) {
    const RawModule module(modulePath);
    ASSERT_NE(module.plugin, nullptr);
    for (int index = 0; index < typeCount; ++index) {
        const Descriptor descriptor(module.plugin(index));
        ASSERT_NE(descriptor, nullptr);
        bool created = false;
        const long needed = FailEachAllocation(
            [&] {
                created = false;
                const std::unique_ptr<Plugged> node(descriptor->Create());
                created = node != nullptr;
            },
            [&](long failing, const Attempt& attempt) {
                // The node's own memory comes first; its constructor's allocations after it.
                EXPECT_EQ(attempt.threw, failing > 0) << "allocation " << failing << " of type " << index;
                EXPECT_FALSE(created) << "allocation " << failing << " of type " << index;
            });
        EXPECT_GT(needed, 1) << "type " << index << " allocates in its constructor";
        EXPECT_TRUE(created);
    }
}

TEST(AllocationFailure, CloneGivesNullOrPassesOnBadAlloc) {
    const quib::Module module(modulePath);
    for (const quib::NodeType& type : module.Types()) {
        const std::unique_ptr<Function> node = type.Create();
        ASSERT_NE(node, nullptr);
        bool copied = false;
        FailEachAllocation(
            [&] {
                copied = false;
                const std::unique_ptr<Plugged> copy(node->Clone(0, 0));
                copied = copy != nullptr;
            },
            [&](long failing, const Attempt&) { EXPECT_FALSE(copied) << failing << " " << type.typeName; });
        EXPECT_TRUE(copied) << type.typeName;
    }
}

TEST(AllocationFailure, TheHostLoaderThrowsAndForgetsTheModule) {
    bool loaded = false;
    std::string message;
    message.reserve(1000);  // so that keeping a message takes no new memory
    {
        // The library stays in the process during the sweep; once this reference is gone, so must the
        // library be, which shows that every failed load gave its own reference back.
        const RawModule held(modulePath);
        FailEachAllocation(
            [&] {
                loaded = false;
                message.clear();
                try {
                    const quib::Module module(modulePath);
                    loaded = module.Types().size() == typeCount;
                } catch (const quib::Error& error) {
                    message = error.what();  // a descriptor that could not be made reads as a null Plugin
                }
            },
            [&](long failing, const Attempt& attempt) {
                EXPECT_TRUE(attempt.threw || message.rfind(modulePath + ": Plugin(", 0) == 0)
                    << "allocation " << failing << ": " << message;
                EXPECT_FALSE(loaded) << failing;
                EXPECT_EQ(quib::FindDescriptor(firstClassId), nullptr) << failing;
            });
    }
    EXPECT_TRUE(loaded);
    EXPECT_FALSE(IsLoaded(modulePath));
}

}  // namespace
}  // namespace vantrel::test
