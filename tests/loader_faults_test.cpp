// Loader and lifetime faults: broken modules give errors that name the file, and nothing crashes; the
// real module loads and unloads a thousand times in one process and keeps its category label working;
// an allocation that fails in any call into the module gives that call's failure, never an exception,
// and nothing leaks. The counting operator new shows that no allocation of C++ code stays live; the
// asan preset runs this program under LeakSanitizer, which sees every allocation.

#include <dlfcn.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "host/components.h"
#include "host/function.h"
#include "host/param.h"
#include "host/plugin.h"
#include "quib/module_loader.h"
#include "scene/scene.h"
#include "scene/scene_format.h"
#include "tests/allocation_counter.h"
#include "tests/node_values.h"
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
    const auto fifo = [&](const std::string& name) {
        EXPECT_EQ(::mkfifo((work / name).c_str(), 0644), 0);
        return name;
    };
    const auto folder = [&](const std::string& name) {
        std::filesystem::create_directory(work / name);
        return name;
    };
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
        // Not files to read: a FIFO no one writes to, whose opening would wait for ever, a folder, a
        // device.
        {"./" + fifo("fifo.so"), "not a loadable library: expected a regular file, not a FIFO"},
        {"./" + folder("folder.so"), "not a loadable library: expected a regular file, not a folder"},
        {"/dev/null", "not a loadable library: expected a regular file, not a character device"},
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
            const std::optional<RunResult> ended =
                Start(arguments, "0 0 0\n").WaitAtMost(std::chrono::seconds(60));
            ASSERT_TRUE(ended) << "vantrel waits for ever";
            const RunResult& run = *ended;
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

/// A descriptor that creates nothing, and one whose Create throws: the host takes both for a type
/// without nodes.
const std::string uncreatableModules[] = {nullCreateModule, QUIB_FIXTURE_CREATE_THROWS};

TEST(NullCreate, TheHostLoaderLoadsItAndTheSceneNamesTheNode) {
    for (const std::string& path : uncreatableModules) {
        SCOPED_TRACE(path);
        const auto module = std::make_shared<const quib::Module>(path);
        ASSERT_EQ(module->Types().size(), 1u);
        EXPECT_EQ(module->Types()[0].Create(), nullptr);
        try {
            Scene::FromDocument(JsonDocument::Parse(R"({ "format": "vantrel-scene/1", "output": "a",
                                                   "nodes": [ { "id": "a", "type": "Uncreatable node" } ] })",
                                                    sceneNesting),
                                "null.json", std::make_shared<const ModuleSet>(module));
            ADD_FAILURE() << "a scene of a node that cannot be created";
        } catch (const quib::Error& error) {
            EXPECT_EQ(
                error.what(),
                "null.json: line 2, column 76: /nodes/0/type: expected a type whose descriptor creates a "
                "function node; the descriptor of \"Uncreatable node\" in " +
                    path + " created none");
        }
    }
}

using NullCreateProgram = VantrelTest;

TEST_F(NullCreateProgram, ListsTheTypeAsUncreatableAndRefusesItsScene) {
    Write("scene.json", R"({ "format": "vantrel-scene/1", "output": "a",
                             "nodes": [ { "id": "a", "type": "Uncreatable node" } ] })");
    for (const std::string& path : uncreatableModules) {
        SCOPED_TRACE(path);
        RunResult run = Vantrel({"list", "--module", path});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("\n== " + path + ", version 1\n"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("\"Uncreatable node\"\n    the descriptor created no function node\n"),
                  std::string::npos)
            << run.out;

        for (const char* command : {"eval", "render"}) {
            run = Vantrel({command, "scene.json", "--module", path}, "0 0 0\n");
            EXPECT_EQ(run.status, 2) << command;
            EXPECT_EQ(
                run.err,
                "vantrel: scene.json: line 2, column 54: /nodes/0/type: expected a type whose descriptor "
                "creates a function node; the descriptor of \"Uncreatable node\" in " +
                    path + " created none\n");
        }
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

// Every call the host makes into the module, on every node type, through the module loaded by its
// exports. No exception may come out (one that crosses into a host built by another compiler ends the
// host's process): a call that runs out of memory gives the interface's failure (a null descriptor,
// node or copy, an empty text, a zero value, an Update that keeps the settings it had), and nothing
// leaks. The only exception let through is the host's own: the four nodes that keep the host's Clone
// get its std::bad_alloc from the host's copying.

/// A node of the test program's own, as a node of another module would be, that allocates whenever it
/// is evaluated: a parameter linked to it fails when that allocation does.
class AllocatingSource final : public Function {
public:
    unsigned int ClassID() override { return 0x51B0FFFF; }
    int ObjectType() override { return 0; }
    std::string TypeName() override { return "allocating source"; }
    void Eval(std::string* out, FunContext*) override { *out = Answer<std::string>(); }
    void Eval(ColorA* out, FunContext*) override { *out = Answer<ColorA>(); }
    void Eval(Color* out, FunContext*) override { *out = Answer<Color>(); }
    void Eval(Quaternion* out, FunContext*) override { *out = Answer<Quaternion>(); }
    void Eval(Vec4d* out, FunContext*) override { *out = Answer<Vec4d>(); }
    void Eval(Vec3d* out, FunContext*) override { *out = Answer<Vec3d>(); }
    void Eval(Vec2d* out, FunContext*) override { *out = Answer<Vec2d>(); }
    void Eval(double* out, FunContext*) override { *out = Answer<double>(); }
    void Eval(int* out, FunContext*) override { *out = Answer<int>(); }

private:
    /// (0.3, -0.2, 0.9, 0.5) in as many components as T has; 2 as a scalar. A direct call of operator
    /// new, which the compiler may not leave out as it may a new-expression's.
    template <class T>
    static T Answer() {
        void* held = ::operator new(64);
        ::operator delete(held);
        if constexpr (std::is_same_v<T, std::string>) {
            return "source";
        } else if constexpr (std::is_arithmetic_v<T>) {
            return 2;
        } else if constexpr (requires { T(0.3, -0.2, 0.9, 0.5); }) {
            return T(0.3, -0.2, 0.9, 0.5);
        } else if constexpr (requires { T(0.3, -0.2, 0.9); }) {
            return T(0.3, -0.2, 0.9);
        } else {
            return T(0.3, -0.2);
        }
    }
};

/// What the sweep knows of each node type, by registry index, from the node guide.
struct TypeFacts {
    const char* plugName;
    const char* nodeName;
    std::vector<const char*> cached;  ///< the parameters Update caches (the rest are read per sample)
    bool ownClone;                    ///< the module's Clone, not the host's
    /// The parameters left at their defaults rather than linked to the source: the leapfrog's radius,
    /// whose 2 would make the int output 0, the value a failure gives.
    std::vector<const char*> unlinked = {};
};
const TypeFacts typeFacts[] = {
    {"Hexagonal lattice 3D(1)",
     "Hexagonal lattice 3D (1)",
     {"Subdivision", "Rescale result?", "(2=plane, 3=sphere)(how to make list box]"},
     true},
    {"Vector to color", "Vector to color", {}, false},
    {"Curve3", "Curve3", {}, false},
    {"W Distortion", "W Distortion", {}, false},
    {"Leapfrog fractal", "Leapfrog fractal", {}, false, {"Radius"}},
};

/// A call's result: the failure the interface documents, what the call gives when nothing fails, or
/// neither.
enum class Outcome { Failure, Whole, Wrong };

/// One node type as a sweep uses it: the module's `Plugin` export, the type's descriptor and a node of
/// it whose every parameter is linked to `source`, and what the whole call gives.
struct Subject {
    PluginFunction* plugin;
    const quib::NodeType& type;
    const TypeFacts& facts;
    AllocatingSource& source;
    std::unique_ptr<Function> node;
    // What the whole call gives (an evaluation's components, or an Update's real output after) and an
    // Update's real output before; the sweep's own checks allocate nothing.
    host::Components wholeValue = {};
    std::string wholeText = {};
    host::Components failedValue = {};
};

/// A sample position away from the lattice's special points.
const Vec3d samplePosition(0.4, 1.1, -0.2);

struct Entry {
    const char* name;
    std::function<void(Subject&)> prepare;  ///< none: nothing to prepare
    std::function<Outcome(Subject&)> call;
};

template <class T>
Entry EvalEntry(const char* name) {
    return {
        name,
        [](Subject& s) {
            const T whole = Evaluate<T>(*s.node, samplePosition);
            if constexpr (std::is_same_v<T, std::string>) {
                s.wholeText = whole;
            } else {
                s.wholeValue = host::Of(whole);
            }
        },
        [](Subject& s) {
            const T out = Evaluate<T>(*s.node, samplePosition);  // from garbage
            if constexpr (std::is_same_v<T, std::string>) {
                return out.empty() ? Outcome::Failure : out == s.wholeText ? Outcome::Whole : Outcome::Wrong;
            } else {
                const host::Components got = host::Of(out);
                if (got == s.wholeValue) return Outcome::Whole;
                return got == host::Components{} ? Outcome::Failure : Outcome::Wrong;
            }
        }};
}

/// Whether the text is empty (the failure) or `whole`.
Outcome TextOutcome(const std::string& text, std::string_view whole) {
    if (text.empty()) return Outcome::Failure;
    return text == whole ? Outcome::Whole : Outcome::Wrong;
}

/// Makes every parameter of the subject's node a constant, the first one the sample position and the
/// rest their defaults, but for the cached ones, which `toSource` links to the source.
void ForUpdate(Subject& s, bool toSource) {
    for (Param* param : s.node->Params()) {
        const bool cached =
            std::find(s.facts.cached.begin(), s.facts.cached.end(), param->Name()) != s.facts.cached.end();
        if (cached && toSource) {
            param->LinkTo(&s.source);
        } else {
            param->SetConstant(param->Constant());
        }
    }
    s.node->Params()[0]->SetConstant({samplePosition.x, samplePosition.y, samplePosition.z});
}

const Entry entries[] = {
    {"Plugin",
     {},
     [](Subject& s) {
         Plugin* made = s.plugin(s.type.index);
         if (!made) return Outcome::Failure;
         const bool whole = made->ClassID() == s.type.classId;
         quib::ReleaseDescriptor(made);
         return whole ? Outcome::Whole : Outcome::Wrong;
     }},
    {"descriptor TypeName",
     {},
     [](Subject& s) { return TextOutcome(s.type.descriptor->TypeName(), s.facts.plugName); }},
    {"Create",
     {},
     [](Subject& s) {
         const std::unique_ptr<Plugged> made(s.type.descriptor->Create());
         if (!made) return Outcome::Failure;
         auto* node = dynamic_cast<Function*>(made.get());
         return node && node->Params().size() == s.node->Params().size() ? Outcome::Whole : Outcome::Wrong;
     }},
    {"TypeName", {}, [](Subject& s) { return TextOutcome(s.node->TypeName(), s.facts.nodeName); }},
    {"Category", {}, [](Subject& s) { return TextOutcome(s.node->Category(), category); }},
    EvalEntry<std::string>("Eval string"),
    EvalEntry<ColorA>("Eval ColorA"),
    EvalEntry<Color>("Eval Color"),
    EvalEntry<Quaternion>("Eval Quaternion"),
    EvalEntry<Vec4d>("Eval Vec4d"),
    EvalEntry<Vec3d>("Eval Vec3d"),
    EvalEntry<Vec2d>("Eval Vec2d"),
    EvalEntry<double>("Eval double"),
    EvalEntry<int>("Eval int"),
    {"Clone",
     {},
     [](Subject& s) {
         const std::unique_ptr<Plugged> copy(s.node->Clone(0, 0));
         if (!copy) return Outcome::Failure;
         return copy->ClassID() == s.type.classId ? Outcome::Whole : Outcome::Wrong;
     }},
    // The real output tells the cached settings: a failed Update leaves the node's defaults (sphere, 10
    // steps), a whole one takes the source's 2s (plane); a setting read before the failure must not
    // stay. The evaluation reads constants only, and allocates nothing.
    {"Update",
     [](Subject& s) {
         FunContext context;
         ForUpdate(s, false);
         s.node->Update(0, &context);
         s.failedValue = host::Of(Evaluate<double>(*s.node));
         ForUpdate(s, true);
         s.node->Update(0, &context);
         s.wholeValue = host::Of(Evaluate<double>(*s.node));
     },
     [](Subject& s) {
         // Back to the defaults, which takes no memory; then the Update the sweep fails.
         FunContext context;
         ForUpdate(s, false);
         s.node->Update(0, &context);
         ForUpdate(s, true);
         s.node->Update(0, &context);
         const host::Components got = host::Of(Evaluate<double>(*s.node));
         if (got == s.wholeValue) return Outcome::Whole;
         return got == s.failedValue ? Outcome::Failure : Outcome::Wrong;
     }},
};

TEST(AllocationFailure, NoCallLetsAnExceptionOutOrLeaks) {
    const quib::Module module(modulePath);  // for Clone, which finds the descriptor by class id
    const RawModule exports(modulePath);    // the same library, for its Plugin export
    ASSERT_NE(exports.plugin, nullptr);
    ASSERT_EQ(module.Types().size(), std::size(typeFacts));
    AllocatingSource source;
    for (const Entry& entry : entries) {
        for (const quib::NodeType& type : module.Types()) {
            const TypeFacts& facts = typeFacts[type.index];
            SCOPED_TRACE(testing::Message() << entry.name << " of " << facts.plugName);
            Subject subject{exports.plugin, type, facts, source, type.Create()};
            ASSERT_NE(subject.node, nullptr);
            for (Param* param : subject.node->Params()) {
                if (std::find(facts.unlinked.begin(), facts.unlinked.end(), param->Name()) ==
                    facts.unlinked.end())
                    param->LinkTo(&source);
            }
            if (entry.prepare) entry.prepare(subject);
            const bool hostsClone = std::string(entry.name) == "Clone" && !facts.ownClone;
            Outcome outcome = Outcome::Wrong;
            const long needed = FailEachAllocation(
                [&] {
                    outcome = Outcome::Wrong;
                    outcome = entry.call(subject);
                },
                [&](long failing, const Attempt& attempt) {
                    if (attempt.threw && hostsClone) return;  // the host's own copying ran out
                    EXPECT_FALSE(attempt.threw)
                        << "allocation " << failing << " failed: an exception escaped";
                    EXPECT_EQ(outcome, Outcome::Failure) << "allocation " << failing << " failed";
                });
            EXPECT_EQ(outcome, Outcome::Whole) << "after " << needed << " allocations";
        }
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
