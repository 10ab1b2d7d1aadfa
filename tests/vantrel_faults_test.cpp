// `vantrel` in conditions a user or a system can make hostile, run as a user runs it: a stop signal
// while a sample takes hours, a small stack limit under the deepest chains a scene may hold, a full
// standard output, a private target file, and the pending files of runs killed outright.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/vantrel_run.h"

namespace vantrel::test {
namespace {

/// `arguments` run by the shell after `setup`, with vantrel as the program: "$0" "$@".
std::vector<std::string> InShell(const std::string& setup, const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {"/bin/sh", "-c", setup + " && exec \"$0\" \"$@\"", VANTREL_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

class Faults : public VantrelTest {
protected:
    RunResult Run(const std::vector<std::string>& command, const std::string& input = "") const {
        return Process(command, work, root / "streams", input).Wait();
    }
};

const char* const curveScene = R"~({ "format": "vantrel-scene/1", "output": "c",
    "nodes": [ { "id": "c", "type": "Curve3", "params": { "In": { "link": "@position" } } } ] })~";

// A stop signal ends the render at once, whatever the samples cost: here each would take minutes, so
// the render, which would otherwise end after hours, must end by the signal well within the limit.

TEST_F(Faults, StopSignalEndsARenderInTheMiddleOfItsSamples) {
    Write("slow.json", R"~({ "format": "vantrel-scene/1", "output": "f",
        "nodes": [ { "id": "f", "type": "Leapfrog fractal",
                     "params": { "A": { "link": "@position" }, "B": [0.1, 0.9, -0.4], "C": [-0.8, -0.3, 0.5],
                                 "Radius": 0.5, "Iterations": 2147483647 } } ],
        "domain": { "kind": "sphere" } })~");
    for (const char* output : {"slow.png", "slow.exr"}) {
        for (int signal : {SIGINT, SIGTERM}) {
            SCOPED_TRACE(std::string(output) + " " + std::to_string(signal));
            Write(output, "the old picture");
            Process render = Start({"render", "slow.json", "-o", output, "--size", "64x32"});
            bool pending = false;  // it appears before the first sample
            for (int wait = 0; wait < 3000 && !pending; ++wait) {
                pending = WorkFiles().size() > 2;
                if (!pending) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            ASSERT_TRUE(pending);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // into the samples
            kill(render.Pid(), signal);
            const std::optional<RunResult> run = render.WaitAtMost(std::chrono::seconds(60));
            ASSERT_TRUE(run) << "the render went on after the signal";
            EXPECT_EQ(run->status, 128 + signal) << run->err;
            EXPECT_EQ(ReadFile(work / output), "the old picture");
            std::vector<std::string> files = {output, "slow.json"};
            std::sort(files.begin(), files.end());
            EXPECT_EQ(WorkFiles(), files) << "no pending file is left";
        }
        std::filesystem::remove(work / output);
    }
}

// The longest chain a scene may hold, 1000 links, of each node type, under stack limits of 1 MB and
// of 128 KB: vantrel's threads have stacks of its own size, so both give what no limit gives.

/// A chain of 1000 links of `type`, each node reading the one before through `param`.
std::string Chain(const std::string& type, const std::string& param) {
    std::string nodes = R"~({ "id": "n0", "type": ")~" + type + R"~(", "params": { ")~" + param +
                        R"~(": { "link": "@position" } } })~";
    for (int i = 1; i <= 1000; ++i) {
        nodes += R"~(, { "id": "n)~" + std::to_string(i) + R"~(", "type": ")~" + type +
                 R"~(", "params": { ")~" + param + R"~(": { "link": "n)~" + std::to_string(i - 1) +
                 R"~(" } } })~";
    }
    return R"~({ "format": "vantrel-scene/1", "output": "n1000", "nodes": [ )~" + nodes + " ] }";
}

TEST_F(Faults, LongestChainsFitWhateverTheStackLimit) {
    const std::pair<const char*, const char*> chains[] = {
        {"Vector to color", "In"},
        {"Leapfrog fractal", "A"},
        {"W Distortion", "Position"},
        {"Curve3", "In"},
        {"Hexagonal lattice 3D(1)", "Position"},
    };
    const std::string samples = "0.1 0.2 0.3\n-0.5 0.25 2\n";
    for (const auto& [type, param] : chains) {
        SCOPED_TRACE(type);
        Write("chain.json", Chain(type, param));
        const RunResult unlimited = Vantrel({"eval", "chain.json"}, samples);
        ASSERT_EQ(unlimited.status, 0) << unlimited.err;
        ASSERT_EQ(Vantrel({"render", "chain.json", "--size", "16x8", "-o", "unlimited.png"}).status, 0);
        for (const char* limit : {"1024", "128"}) {
            SCOPED_TRACE(std::string("ulimit -s ") + limit);
            const std::string setup = std::string("ulimit -s ") + limit;
            const RunResult eval = Run(InShell(setup, {"eval", "chain.json"}), samples);
            EXPECT_EQ(eval.status, 0) << eval.err;
            EXPECT_EQ(eval.out, unlimited.out);
            const RunResult render =
                Run(InShell(setup, {"render", "chain.json", "--size", "16x8", "-o", "limited.png"}));
            EXPECT_EQ(render.status, 0) << render.err;
            EXPECT_EQ(ReadFile(work / "limited.png"), ReadFile(work / "unlimited.png"));
        }
    }
}

// Standard output that takes nothing: every command says so at the first write that fails. eval stops
// there: were it to read on, it would reach the bad last line and answer that instead.

TEST_F(Faults, FullStandardOutputIsSaidAndStopsTheCommand) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    Write("scene.json", curveScene);
    std::string input;
    for (int i = 0; i < 20000; ++i)
        input += "0.5 0.25 0\n";
    input += "not a sample\n";
    const std::vector<std::string> commands[] = {
        {"eval", "scene.json"},
        {"list"},
        {"list", "--json"},
        {"render", "scene.json", "--size", "8x8", "-o", "out.png"},  // the square of the domain
    };
    for (const std::vector<std::string>& arguments : commands) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        const RunResult run = Run(InShell("exec > /dev/full", arguments), input);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "vantrel: standard output: cannot write: No space left on device\n");
    }
}

// The target's permissions carry over to the file that replaces it.

TEST_F(Faults, RenderKeepsTheTargetsMode) {
    Write("scene.json", curveScene);
    for (const char* output : {"private.png", "private.exr", "shared.png"}) {
        for (const mode_t mode : {0600, 0640, 0444}) {
            SCOPED_TRACE(std::string(output) + " " + std::to_string(mode));
            Write(output, "the old picture");
            ASSERT_EQ(::chmod((work / output).c_str(), mode), 0);
            const RunResult run = Vantrel({"render", "scene.json", "--size", "8x4", "-o", output});
            ASSERT_EQ(run.status, 0) << run.err;
            struct stat status;
            ASSERT_EQ(::stat((work / output).c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 07777, mode);
            EXPECT_NE(ReadFile(work / output), "the old picture");
        }
    }
}

// Pending files of runs that nothing could stop from leaving them (SIGKILL): the next render to the
// same target removes those of processes that no longer run, and nothing else.

TEST_F(Faults, RenderRemovesPendingFilesOfEndedRuns) {
    Write("scene.json", curveScene);
    Process ended({"/bin/true"}, work, root / "streams", "");
    const std::string endedPid = std::to_string(ended.Pid());
    ended.Wait();
    const std::string livePid = std::to_string(::getpid());
    const std::vector<std::string> kept = {
        ".out.png." + livePid + "-0.tmp",     // a render of a process that still runs
        ".other.png." + endedPid + "-0.tmp",  // another target's
        ".out.png." + endedPid + "-x.tmp",    // not a name vantrel gives
        ".out.png." + endedPid + "-0.tmp~",
    };
    for (const std::string& name : kept)
        Write(name, "");
    Write(".out.png." + endedPid + "-0.tmp", "half an image");
    Write(".out.png." + endedPid + "-17.tmp", "");
    const RunResult run = Vantrel({"render", "scene.json", "--size", "8x4", "-o", "out.png"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> expected = kept;
    expected.insert(expected.end(), {"out.png", "scene.json"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(WorkFiles(), expected);
}

// The server is a module beside vantrel, loaded by the command that uses it: without it, that command
// says which module it could not load, while every other command works, the renders to PNG and to
// OpenEXR among them.

TEST_F(Faults, CommandsWhoseModuleIsMissingSayWhich) {
    Write("scene.json", curveScene);
    std::filesystem::create_directory(work / "lone");
    std::filesystem::copy_file(VANTREL_PATH, work / "lone" / "vantrel");
    const std::string lone = (work / "lone" / "vantrel").string();
    for (const char* output : {"new.png", "new.exr"}) {
        const RunResult render = Run(
            {lone, "--module", VANTREL_MODULE_PATH, "render", "scene.json", "--size", "8x4", "-o", output});
        EXPECT_EQ(render.status, 0) << render.err;
    }
    const RunResult run = Run({lone, "--module", VANTREL_MODULE_PATH, "serve", "scene.json", "--port", "0"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot load " + (work / "lone" / "vantrel-serve.so").string() + ": "),
              std::string::npos)
        << run.err;
    EXPECT_EQ(WorkFiles(), (std::vector<std::string>{"lone", "new.exr", "new.png", "scene.json"}));
}

}  // namespace
}  // namespace vantrel::test
