// `vantrel` in conditions a user or a system can make hostile, run as a user runs it: every stop signal
// while a sample takes hours, a small stack limit under the deepest chains a scene may hold, a full or
// size-limited standard output and one whose reader has gone, input that cannot be read or never ends
// its line, a private target file, targets that are links, folders or FIFOs, and the pending files of
// runs killed outright.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>
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
// the render, which would otherwise end after hours, must end by the signal well within the limit. A
// signal ignored when vantrel starts (nohup ignores SIGHUP, a script's background job SIGINT) stays
// ignored: the render goes on until SIGTERM ends it.

const char* const slowScene = R"~({ "format": "vantrel-scene/1", "output": "f",
    "nodes": [ { "id": "f", "type": "Leapfrog fractal",
                 "params": { "A": { "link": "@position" }, "B": [0.1, 0.9, -0.4], "C": [-0.8, -0.3, 0.5],
                             "Radius": 0.5, "Iterations": 2147483647 } } ],
    "domain": { "kind": "sphere" } })~";

TEST_F(Faults, StopSignalEndsARenderInTheMiddleOfItsSamples) {
    Write("slow.json", slowScene);
    const struct {
        int signal;
        const char* ignore;  // the shell's trap that ignores it, or nothing
    } cases[] = {
        {SIGINT, ""},
        {SIGTERM, ""},
        {SIGHUP, ""},
        {SIGQUIT, ""},
        {SIGPIPE, ""},
        {SIGALRM, ""},
        {SIGUSR1, ""},
        {SIGUSR2, ""},
        {SIGVTALRM, ""},
        {SIGPROF, ""},
        {SIGXCPU, ""},
        {SIGHUP, "trap '' HUP"},
        {SIGINT, "trap '' INT"},
        {SIGQUIT, "trap '' QUIT"},
    };
    for (const char* output : {"slow.png", "slow.exr"}) {
        for (const auto& each : cases) {
            SCOPED_TRACE(std::string(output) + " " + strsignal(each.signal) + " " + each.ignore);
            Write(output, "the old picture");
            // No core file from SIGQUIT or SIGXCPU.
            const std::string setup = std::string("ulimit -c 0") + (*each.ignore ? " && " : "") + each.ignore;
            Process render(InShell(setup, {"render", "slow.json", "-o", output, "--size", "64x32"}), work,
                           root / "streams", "");
            bool pending = false;  // it appears before the first sample
            for (int wait = 0; wait < 3000 && !pending; ++wait) {
                pending = WorkFiles().size() > 2;
                if (!pending) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            ASSERT_TRUE(pending);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));  // into the samples
            kill(render.Pid(), each.signal);
            int endedBy = each.signal;
            if (*each.ignore) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                kill(render.Pid(), SIGTERM);  // the ignored one, had it not been, would have ended it first
                endedBy = SIGTERM;
            }
            const std::optional<RunResult> run = render.WaitAtMost(std::chrono::seconds(60));
            ASSERT_TRUE(run) << "the render went on after the signal";
            EXPECT_EQ(run->status, 128 + endedBy) << run->err;
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
// there: were it to read on, it would reach the bad last line and answer that instead. Beyond the file
// size limit the write fails too, rather than SIGXFSZ ending vantrel unannounced.

TEST_F(Faults, FullStandardOutputIsSaidAndStopsTheCommand) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    Write("scene.json", curveScene);
    std::string input;
    for (int i = 0; i < 20000; ++i)
        input += "0.5 0.25 0\n";
    input += "not a sample\n";
    const std::vector<std::string> eval = {"eval", "scene.json"};
    const std::string full = "vantrel: standard output: cannot write: No space left on device\n";
    const std::string tooLarge = "vantrel: standard output: cannot write: File too large\n";
    const struct {
        const char* setup;
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {"exec > /dev/full", eval, full},
        {"exec > /dev/full", {"list"}, full},
        {"exec > /dev/full", {"list", "--json"}, full},
        {"exec > /dev/full", {"render", "scene.json", "--size", "8x8", "-o", "out.png"}, full},
        // 4 blocks (of 512 or 1024 bytes, by the shell), less than the samples' answers or the node types.
        {"ulimit -f 4 && exec > out.txt", eval, tooLarge},
        {"ulimit -f 4 && exec > out.txt", {"list", "--json"}, tooLarge},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.setup);
        SCOPED_TRACE(::testing::PrintToString(each.arguments));
        const RunResult run = Run(InShell(each.setup, each.arguments), input);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, each.message);
    }
}

// A reader of standard output that went away: vantrel stops at the first write that meets it, as grep
// or cat do, by SIGPIPE and without a word; eval reads no more samples (the bad last line would be
// answered otherwise). A render's image is in place before its report is written, and stays. Started
// with SIGPIPE ignored, vantrel says the write failed, as for any other. Standard output here is a FIFO
// whose only reader was closed before vantrel started.

TEST_F(Faults, ClosedPipeEndsTheCommandQuietly) {
    Write("scene.json", curveScene);
    std::string input;
    for (int i = 0; i < 20000; ++i)
        input += "0.5 0.25 0\n";
    input += "not a sample\n";
    const std::string gone = "mkfifo pipe && exec 3<>pipe >pipe 3<&-";
    const std::string broken = "vantrel: standard output: cannot write: Broken pipe\n";
    const std::vector<std::string> render = {"render", "scene.json", "--size", "8x8", "-o", "out.png"};
    const struct {
        std::string setup;
        std::vector<std::string> arguments;
        int status;
        std::string message;
    } cases[] = {
        {gone, {"eval", "scene.json"}, 128 + SIGPIPE, ""},
        {gone, {"list"}, 128 + SIGPIPE, ""},
        {gone, render, 128 + SIGPIPE, ""},
        {"trap '' PIPE && " + gone, {"eval", "scene.json"}, 1, broken},
        {"trap '' PIPE && " + gone, render, 1, broken},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.setup);
        SCOPED_TRACE(::testing::PrintToString(each.arguments));
        Write("out.png", "the old picture");
        const RunResult run = Run(InShell(each.setup, each.arguments), input);
        EXPECT_EQ(run.status, each.status);
        EXPECT_EQ(run.err, each.message);
        const bool rendered = each.arguments[0] == "render";
        EXPECT_EQ(ReadFile(work / "out.png").rfind("\x89PNG", 0) == 0, rendered) << "the image is in place";
        std::filesystem::remove(work / "pipe");
        EXPECT_EQ(WorkFiles(), (std::vector<std::string>{"out.png", "scene.json"}))
            << "no pending file is left";
    }
}

// Input that cannot be read, or a line too long to be a sample: each is said with the number of its
// line, where both were once taken for the end of the input (status 0, and the samples after them never
// evaluated). A line is read only up to the limit, so an endless one is refused at once.

TEST_F(Faults, UnreadableOrOverlongInputIsSaidWithItsLine) {
    Write("scene.json", curveScene);
    const std::string sample = "0.5 0.25 0";
    const std::string longest = sample + std::string((1 << 20) - sample.size(), ' ');  // 1 MiB, a sample
    const std::string overlong = ": expected a line of at most 1048576 bytes (1 MiB), not a longer one\n";
    const struct {
        const char* what;
        const char* setup;
        std::string input;
        int status;
        std::string out;
        std::string message;
    } cases[] = {
        {"a folder", "exec < .", "", 1, "", "vantrel: standard input: line 1: cannot read: Is a directory\n"},
        {"an endless line", "exec < /dev/zero", "", 2, "", "vantrel: standard input: line 1" + overlong},
        {"the longest line", "true", "0 0 0\n" + longest + "\n1 0 0", 0, "0 0 0\n0.5 0.25 0\n1 0 0\n", ""},
        {"a byte more", "true", "0 0 0\n" + longest + " \n1 0 0\n", 2, "0 0 0\n",
         "vantrel: standard input: line 2" + overlong},
        {"a comment a byte too long, last", "true", "0 0 0\n\n#" + longest, 2, "0 0 0\n",
         "vantrel: standard input: line 3" + overlong},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        Process eval(InShell(each.setup, {"eval", "scene.json", "--type", "vec3"}), work, root / "streams",
                     each.input);
        const std::optional<RunResult> run = eval.WaitAtMost(std::chrono::seconds(60));
        ASSERT_TRUE(run) << "eval went on reading";
        EXPECT_EQ(run->status, each.status);
        EXPECT_EQ(run->out, each.out);
        EXPECT_EQ(run->err, each.message);
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

// Targets that are not plain files. A symbolic link is written through, as an editor saves through
// one: the file it leads to (through a chain of links, read from each link's folder; there or not yet)
// is replaced, keeping its mode, and the link stays; the pending file is made beside that file. What
// an image cannot replace, a folder or a FIFO, is refused before any sample is taken (each sample of the
// slow scene would take minutes).

TEST_F(Faults, RenderWritesThroughLinksAndRefusesWhatItCannotReplace) {
    ::umask(022);  // a new file's mode: 0644
    Write("scene.json", curveScene);
    Write("slow.json", slowScene);
    std::filesystem::create_directory(work / "images");
    Write("images/real.png", "the old picture");
    ASSERT_EQ(::chmod((work / "images/real.png").c_str(), 0600), 0);
    Write("other.png", "the old picture");
    std::filesystem::create_symlink("images/real.png", work / "link.png");
    std::filesystem::create_symlink("link.png", work / "chain.png");
    std::filesystem::create_symlink(work / "images/real.png", work / "absolute.png");
    std::filesystem::create_symlink("../other.png", work / "images/up.png");
    std::filesystem::create_symlink("images/new.png", work / "new.png");
    std::filesystem::create_symlink("loop.png", work / "loop.png");
    std::filesystem::create_directory(work / "folder.png");
    std::filesystem::create_directory_symlink("images", work / "folder-link.png");
    ASSERT_EQ(::mkfifo((work / "fifo.png").c_str(), 0644), 0);
    const struct {
        const char* target;
        const char* written;  // the file that becomes the image; null when refused
        mode_t mode;
        std::string message;
    } cases[] = {
        {"link.png", "images/real.png", 0600, ""},
        {"chain.png", "images/real.png", 0600, ""},
        {"absolute.png", "images/real.png", 0600, ""},
        {"images/up.png", "other.png", 0644, ""},
        {"new.png", "images/new.png", 0644, ""},
        {"loop.png", nullptr, 0, "cannot follow its links: Too many levels of symbolic links"},
        {"folder.png", nullptr, 0, "cannot replace it with a file: it is a folder"},
        {"folder-link.png", nullptr, 0, "cannot replace it with a file: it is a folder"},
        {"fifo.png", nullptr, 0, "cannot replace it with a file: it is not a regular file"},
    };
    const auto files = [&] {  // in the folder and in images/
        std::vector<std::string> names = WorkFiles();
        for (const auto& entry : std::filesystem::directory_iterator(work / "images"))
            names.push_back("images/" + entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = files();
    for (const auto& each : cases) {
        SCOPED_TRACE(each.target);
        Process render({VANTREL_PATH, "render", each.written ? "scene.json" : "slow.json", "-o", each.target,
                        "--size", "8x4"},
                       work, root / "streams", "");
        const std::optional<RunResult> run = render.WaitAtMost(std::chrono::seconds(60));
        ASSERT_TRUE(run) << "the render went on";
        if (each.written) {
            EXPECT_EQ(run->status, 0) << run->err;
            EXPECT_TRUE(std::filesystem::is_symlink(work / each.target)) << "the link stays";
            EXPECT_EQ(ReadFile(work / each.written).rfind("\x89PNG", 0), 0u);
            struct stat status;
            ASSERT_EQ(::stat((work / each.written).c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 07777, each.mode);
        } else {
            EXPECT_EQ(run->status, 1);
            EXPECT_EQ(run->err, "vantrel: " + std::string(each.target) + ": " + each.message + "\n");
        }
    }
    std::vector<std::string> after = before;
    after.push_back("images/new.png");
    std::sort(after.begin(), after.end());
    EXPECT_EQ(files(), after) << "no pending file is left, and no link is replaced";

    // The pending file of a render through a link is beside the file it replaces.
    Process render({VANTREL_PATH, "render", "slow.json", "-o", "link.png", "--size", "8x4"}, work,
                   root / "streams", "");
    bool beside = false;
    for (int wait = 0; wait < 3000 && !beside; ++wait) {
        for (const auto& entry : std::filesystem::directory_iterator(work / "images"))
            beside = beside || entry.path().filename().string().rfind(".real.png.", 0) == 0;
        if (!beside) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(render.Pid(), SIGTERM);
    EXPECT_EQ(render.Wait().status, 128 + SIGTERM);
    EXPECT_TRUE(beside);
    EXPECT_EQ(files(), after);
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
// OpenEXR among them. vantrel is copied with the libraries it links, which it finds beside itself.

TEST_F(Faults, CommandsWhoseModuleIsMissingSayWhich) {
    Write("scene.json", curveScene);
    std::filesystem::create_directory(work / "lone");
    const std::filesystem::path built = std::filesystem::path(VANTREL_PATH).parent_path();
    for (const char* file : {"vantrel", "libquib.so", "libvantrel-scene.so", "libvantrel-render.so"})
        std::filesystem::copy_file(built / file, work / "lone" / file);
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
