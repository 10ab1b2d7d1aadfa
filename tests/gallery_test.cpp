// The committed pictures and the node guide cannot go stale: the gallery script renders every scene
// again with the built vantrel, and each picture must hold the same pixels as the committed one (pixels,
// not bytes, so that a change of the PNG encoder alone changes nothing); every picture the guide shows
// is one the script renders from a scene; and every `vantrel eval` session the guide prints gives the
// output it shows.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/png_image.h"
#include "tests/vantrel_run.h"

namespace vantrel::test {
namespace {

const std::filesystem::path source = VANTREL_SOURCE_DIR;

/// The names (without extension) of the files in `folder` whose names end in `extension`.
std::set<std::string> Names(const std::filesystem::path& folder, const std::string& extension) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == extension) names.insert(entry.path().stem());
    }
    return names;
}

/// Where two decoded pictures differ, in words; empty when they hold the same pixels.
std::string Difference(const Decoded& committed, const Decoded& fresh) {
    std::ostringstream text;
    if (committed.width != fresh.width || committed.height != fresh.height ||
        committed.channels != fresh.channels || committed.depth != fresh.depth) {
        text << "committed " << committed.width << "x" << committed.height << ", " << committed.channels
             << " channels of " << committed.depth << " bits; rendered now " << fresh.width << "x"
             << fresh.height << ", " << fresh.channels << " channels of " << fresh.depth << " bits";
        return text.str();
    }
    std::size_t differing = 0;
    std::size_t first = 0;
    for (std::size_t i = 0; i < committed.samples.size(); ++i) {
        if (committed.samples[i] != fresh.samples[i] && differing++ == 0) first = i;
    }
    if (differing == 0) return "";
    const std::size_t pixel = first / committed.channels;
    text << differing << " samples differ, the first at pixel (" << pixel % committed.width << ", "
         << pixel / committed.width << ") channel " << first % committed.channels << ": committed "
         << committed.samples[first] << ", rendered now " << fresh.samples[first];
    return text.str();
}

using Gallery = VantrelTest;

TEST_F(Gallery, EveryCommittedPictureHoldsThePixelsItsSceneRendersNow) {
    const RunResult run = Process({(source / "scripts/render-gallery.sh").string(), "--vantrel", VANTREL_PATH,
                                   "--out", (work / "fresh").string()},
                                  work, root / "streams", "")
                              .Wait();
    ASSERT_EQ(run.status, 0) << run.err;
    // Each folder of scenes and the folder of its committed pictures.
    const struct {
        const char* scenes;
        const char* pictures;
        const char* fresh;
    } sets[] = {{"examples", "docs/gallery", "gallery"}, {"docs/nodes", "docs/nodes", "nodes"}};
    for (const auto& set : sets) {
        SCOPED_TRACE(set.pictures);
        const std::set<std::string> scenes = Names(source / set.scenes, ".json");
        ASSERT_FALSE(scenes.empty());
        // Each scene's picture, and the few the script renders again with --samples.
        const std::set<std::string> rendered = Names(work / "fresh" / set.fresh, ".png");
        EXPECT_TRUE(std::includes(rendered.begin(), rendered.end(), scenes.begin(), scenes.end()))
            << "a picture for every scene";
        EXPECT_EQ(Names(source / set.pictures, ".png"), rendered)
            << "the pictures the script renders, and no other";
        for (const std::string& name : rendered) {
            const std::string picture = std::string(set.pictures) + "/" + name + ".png";
            if (!std::filesystem::exists(source / picture)) continue;  // reported above
            const std::string difference =
                Difference(ReadPng(source / picture), ReadPng(work / "fresh" / set.fresh / (name + ".png")));
            EXPECT_EQ(difference, "") << picture << " is stale: run scripts/render-gallery.sh and commit it";
        }
    }
}

/// The text of the node guide.
std::string Guide() {
    std::ifstream file(source / "docs/nodes.md");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// That each picture is its scene's (or its scene's again with --samples) the test above checks.
TEST(Guide, ShowsEveryPictureOfItsFolder) {
    const std::string guide = Guide();
    std::set<std::string> shown;
    const std::regex picture(R"(\]\(nodes/([^)/]+)\.png\))");
    for (std::sregex_iterator it(guide.begin(), guide.end(), picture), end; it != end; ++it)
        shown.insert((*it)[1]);
    EXPECT_FALSE(shown.empty());
    EXPECT_EQ(shown, Names(source / "docs/nodes", ".png"))
        << "every picture of docs/nodes shown in docs/nodes.md";
}

/// One `vantrel eval` session as the guide prints it: the samples fed in, the scene, the output type
/// and the lines the guide says come out.
struct Session {
    std::string command;
    std::string input;
    std::string scene;
    std::string type;
    std::string output;
};

/// The sessions of the guide's `console` blocks. Each command is `echo 'x y z'` or `printf 'lines'`
/// (with \n between samples) piped into `vantrel eval SCENE [--type T]`; the lines after it, up to the
/// next command or the end of the block, are its output. A command of another form is a failure, so
/// that the guide shows nothing this test does not run.
std::vector<Session> Sessions(const std::string& guide) {
    const std::regex command(R"(\$ (echo|printf) '([^']*)' \| vantrel eval (\S+)(?: --type (\S+))?)");
    std::vector<Session> sessions;
    std::istringstream lines(guide);
    std::string line;
    bool inConsole = false;
    while (std::getline(lines, line)) {
        if (line.rfind("```", 0) == 0) {
            inConsole = !inConsole && line == "```console";
            continue;
        }
        if (!inConsole) continue;
        std::smatch match;
        if (line.rfind("$ ", 0) == 0) {
            if (!std::regex_match(line, match, command)) {
                ADD_FAILURE() << "docs/nodes.md: a console command this test cannot run: " << line;
                continue;
            }
            std::string input = match[2];
            if (match[1] == "echo") {
                input += "\n";
            } else {
                for (std::size_t at; (at = input.find("\\n")) != std::string::npos;)
                    input.replace(at, 2, "\n");
            }
            sessions.push_back({line, input, match[3], match[4].matched ? match[4].str() : "color", ""});
        } else if (!sessions.empty()) {
            sessions.back().output += line + "\n";
        }
    }
    return sessions;
}

using GuideSessions = VantrelTest;

TEST_F(GuideSessions, EveryEvalTheGuideShowsGivesTheOutputItShows) {
    const std::vector<Session> sessions = Sessions(Guide());
    EXPECT_GE(sessions.size(), 10u);
    for (const Session& session : sessions) {
        SCOPED_TRACE(session.command);
        const RunResult run =
            Vantrel({"eval", (source / session.scene).string(), "--type", session.type}, session.input);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, session.output);
    }
}

}  // namespace
}  // namespace vantrel::test
