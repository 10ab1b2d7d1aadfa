// A render that fails loses nothing: the file it would have replaced keeps its bytes and no pending file
// is left beside it, whether the folder refuses new files, the disk fills up or the image or its threads
// do not fit in memory; and no way of naming the scene makes render write over it. The missing folder, the
// size limit part way through a write and the stop signal are in vantrel_render_test.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tests/vantrel_run.h"

namespace vantrel::test {
namespace {

const char* const globeScene = R"~({ "format": "vantrel-scene/1", "output": "lattice",
    "nodes": [ { "id": "lattice", "type": "Hexagonal lattice 3D(1)",
                 "params": { "Position": { "link": "@position" }, "Subdivision": 3 } } ],
    "domain": { "kind": "sphere" } })~";

const std::string oldPicture = "the old picture";

std::vector<std::string> Joined(std::vector<std::string> first, const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

class NothingLost : public VantrelTest {
protected:
    /// Runs `command` (a program with its arguments) in `work`.
    RunResult Run(const std::vector<std::string>& command) const {
        return Process(command, work, root / "streams", "").Wait();
    }

    /// The names of the files in a folder of `work`.
    std::vector<std::string> FilesIn(const std::string& folder) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(work / folder))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// A folder that refuses new files. Root writes anywhere, so as root the render runs with no
// capabilities (setpriv empties the bounding set; the user stays root, the permissions now bind).

TEST_F(NothingLost, ReadOnlyFolderKeepsTheOldFile) {
    Write("globe.json", globeScene);
    std::filesystem::create_directory(work / "locked");
    for (const char* name : {"old.png", "old.exr"})
        Write(std::string("locked/") + name, oldPicture);
    ASSERT_EQ(::chmod((work / "locked").c_str(), 0555), 0);
    struct Unlock {  // so that the test's folders can be removed, however the test ends
        std::filesystem::path folder;
        ~Unlock() { std::filesystem::permissions(folder, std::filesystem::perms::owner_all); }
    } unlock{work / "locked"};

    std::optional<std::vector<std::string>> bound;
    for (const std::vector<std::string>& wrapper :
         {std::vector<std::string>{}, {"/usr/bin/setpriv", "--bounding-set=-all", "--inh-caps=-all", "--"}}) {
        // Status 3 only when the shell ran and could not create the file.
        if (Run(Joined(wrapper, {"/bin/sh", "-c", "true > locked/probe || exit 3"})).status == 3) {
            bound = wrapper;
            break;
        }
        std::filesystem::remove(work / "locked/probe");
    }
    if (!bound) GTEST_SKIP() << "no way here to run a program that folder permissions bind";

    for (const char* name : {"old.png", "old.exr"}) {
        SCOPED_TRACE(name);
        const std::string target = std::string("locked/") + name;
        const RunResult run = Run(Joined(*bound, {VANTREL_PATH, "render", "globe.json", "-o", target}));
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(run.err,
                  "vantrel: " + target + ": cannot create a file in its folder: Permission denied\n");
        EXPECT_EQ(ReadFile(work / target), oldPicture);
    }
    EXPECT_EQ(FilesIn("locked"), (std::vector<std::string>{"old.exr", "old.png"}));
}

// A full disk: a tmpfs of 64 KiB in a mount namespace of the render's own, filled to within 20 KiB
// before the render starts, so that the pending file is created and its writing fails part way. What
// the folder holds afterwards is printed from inside the namespace, where the tmpfs lives.

/// The shell script: $0 is vantrel, $1 the image's name in the full folder.
const char* const fullDiskScript = R"~(mount -t tmpfs -o size=64k tmpfs full || exit 90
[ $# -gt 0 ] || exit 0
printf 'the old picture' > "full/$1"
head -c 40960 /dev/zero > full/filler
"$0" render globe.json -o "full/$1" --size 256x128
status=$?
ls -A full
echo ---
cat "full/$1"
exit $status)~";

TEST_F(NothingLost, FullDiskKeepsTheOldFile) {
    Write("globe.json", globeScene);
    std::filesystem::create_directory(work / "full");
    std::optional<std::vector<std::string>> mounting;
    for (const std::vector<std::string>& wrapper :
         {std::vector<std::string>{"/usr/bin/unshare", "--mount"},
          {"/usr/bin/unshare", "--user", "--map-root-user", "--mount"}}) {
        if (Run(Joined(wrapper, {"/bin/sh", "-c", fullDiskScript})).status == 0) {
            mounting = wrapper;
            break;
        }
    }
    if (!mounting) GTEST_SKIP() << "no way here to mount a tmpfs in a namespace of its own";

    for (const char* name : {"old.png", "old.exr"}) {
        SCOPED_TRACE(name);
        const RunResult run = Run(Joined(*mounting, {"/bin/sh", "-c", fullDiskScript, VANTREL_PATH, name}));
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(run.err.rfind("vantrel: full/" + std::string(name) + ": cannot write the ", 0), 0u)
            << run.err;
        EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "filler\n" + std::string(name) + "\n---\n" + oldPicture);
    }
}

// An image too large for the memory the process may have: the pending file exists by then, and goes.
// So with more render threads than the memory takes stacks of 16 MiB for: the message says how many
// started. AddressSanitizer's operator new ends the program rather than throw, and it cannot start
// under a limit of the address space, so this runs in the builds without it.

TEST_F(NothingLost, ImageTooLargeForMemoryKeepsTheOldFile) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer ends the program where operator new would throw";
#endif
    Write("globe.json", globeScene);
    // Rows so wide that the bands in flight take more than the 2 GB of address space allowed: a band of
    // 8 rows of 2^31 - 1 pixels of four 16-bit channels, 128 GiB; 16 rows of the widest OpenEXR image
    // of four channels, 2 GiB. (--depth is for PNG only: an OpenEXR image always holds floats.)
    const struct {
        const char* name;
        std::vector<std::string> options;
        std::string message;  // a regular expression of the last line, after "vantrel: "
    } cases[] = {
        {"old.png",
         {"--size", "2147483647x8", "--type", "colora", "--depth", "16"},
         "old\\.png: not enough memory for a 2147483647x8 image"},
        {"old.exr",
         {"--size", "8388607x16", "--type", "colora"},
         "old\\.exr: not enough memory for a 8388607x16 image"},
        {"old.png",
         {"--size", "64x32", "--threads", "1024"},
         "old\\.png: cannot start 1024 render threads \\([1-9][0-9]* started\\): Resource temporarily "
         "unavailable"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(::testing::PrintToString(each.options));
        Write(each.name, oldPicture);
        std::vector<std::string> command = {"/bin/sh",    "-c",     "ulimit -v 2000000 && exec \"$0\" \"$@\"",
                                            VANTREL_PATH, "render", "globe.json",
                                            "-o",         each.name};
        command.insert(command.end(), each.options.begin(), each.options.end());
        const RunResult run = Run(command);
        EXPECT_EQ(run.status, 1) << run.err;
        // After the line that says the size stretches the domain, where it does.
        const std::size_t last = run.err.rfind('\n', run.err.size() - 2) + 1;  // npos + 1 is 0
        EXPECT_TRUE(std::regex_match(run.err.substr(last), std::regex("vantrel: " + each.message + "\n")))
            << run.err;
        EXPECT_EQ(ReadFile(work / each.name), oldPicture);
    }
    EXPECT_EQ(WorkFiles(), (std::vector<std::string>{"globe.json", "old.exr", "old.png"}));
}

// However the scene and the image are named, render never replaces the scene file.

TEST_F(NothingLost, NoNameOfTheSceneLetsRenderReplaceIt) {
    Write("globe.png", globeScene);
    std::filesystem::create_symlink("globe.png", work / "link.png");
    std::filesystem::create_directory_symlink(".", work / "here");
    const std::vector<std::vector<std::string>> cases = {
        {"render", "globe.png"},                          // the default image name is the scene's
        {"render", "link.png", "-o", "globe.png"},        // the scene through a symbolic link
        {"render", "globe.png", "-o", "link.png"},        // the image through one
        {"render", "globe.png", "-o", "here/globe.png"},  // through a linked folder
    };
    for (const std::vector<std::string>& arguments : cases) {
        const RunResult run = Vantrel(Joined(arguments, {"--size", "8x4"}));
        EXPECT_EQ(run.status, 2) << arguments[1] << " " << arguments.size();
        EXPECT_NE(run.err.find("expected an output file other than the scene file"), std::string::npos)
            << run.err;
    }
    EXPECT_EQ(ReadFile(work / "globe.png"), globeScene);
    EXPECT_TRUE(std::filesystem::is_symlink(work / "link.png"));
    EXPECT_EQ(WorkFiles(), (std::vector<std::string>{"globe.png", "here", "link.png"}));
}

}  // namespace
}  // namespace vantrel::test
