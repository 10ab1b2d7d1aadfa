// Every command the docs show with its output, run as shown: `$ COMMAND` in a fenced block, then the
// lines it writes (standard output and error together), up to the next command or the block's end.
// Timings vary from run to run, so the figures of a render's report are not compared.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/vantrel_run.h"

namespace vantrel::test {
namespace {

/// A command shown in a document, where, and what the document says it writes.
struct Shown {
    std::string where;  ///< FILE:LINE
    std::string command;
    std::string output;
};

std::vector<Shown> ShownCommands(const std::string& document) {
    std::vector<Shown> shown;
    std::istringstream lines(ReadFile(std::filesystem::path(VANTREL_SOURCE_DIR) / document));
    bool inBlock = false;
    bool inCommand = false;
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (line.starts_with("```")) {
            inBlock = !inBlock;
            inCommand = false;
        } else if (inBlock && line.starts_with("$ ")) {
            shown.push_back({document + ":" + std::to_string(number), line.substr(2), ""});
            inCommand = true;
        } else if (inCommand) {
            shown.back().output += line + "\n";
        }
    }
    return shown;
}

/// `output` with the figures of a render's report ("in 2.608 s, 201031 samples/s on 2 threads", to the
/// end of its line) and of a join's ("in 0.004 s") left out, as they change from run to run.
std::string WithoutTimings(std::string output) {
    for (const std::string report : {" samples in ", " parts in "}) {  // render's, join's
        for (std::size_t at = output.find(report); at != std::string::npos;
             at = output.find(report, at + 1)) {
            const std::size_t end = output.find('\n', at);
            output.erase(at + report.size(),
                         end == std::string::npos ? std::string::npos : end - at - report.size());
        }
    }
    return output;
}

using DocumentedCommands = VantrelTest;

TEST_F(DocumentedCommands, WriteWhatTheDocsShow) {
    // The commands run from a folder like the repository's root, with `vantrel` on the path, and write
    // their files there, not into the sources.
    std::filesystem::create_directories(work / "bin");
    std::filesystem::create_directories(work / "out");
    std::filesystem::create_symlink(VANTREL_PATH, work / "bin" / "vantrel");
    for (const char* folder : {"examples", "docs"})
        std::filesystem::create_symlink(std::filesystem::path(VANTREL_SOURCE_DIR) / folder, work / folder);
    int count = 0;
    // The node guide's eval sessions have a test of their own, beside its pictures.
    for (const char* document : {"README.md", "docs/vantrel.md"}) {
        for (const Shown& shown : ShownCommands(document)) {
            SCOPED_TRACE(shown.where + ": " + shown.command);
            ++count;
            const RunResult run =
                Process({"/bin/sh", "-c", "PATH=\"$PWD/bin:$PATH\"; " + shown.command + " 2>&1"}, work,
                        root / "streams", "")
                    .Wait();
            EXPECT_EQ(WithoutTimings(run.out), WithoutTimings(shown.output));
        }
    }
    EXPECT_GT(count, 0) << "no command found: the docs' form of a shown command changed";
}

}  // namespace
}  // namespace vantrel::test
