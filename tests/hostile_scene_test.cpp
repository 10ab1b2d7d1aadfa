// Scenes written to hurt the loader, run through vantrel as a hostile user would: nesting far deeper
// than the format uses, graphs whose samples cost more than any render could wait for, keys given
// twice, a NUL byte that once ended the text early, escaped NULs in ids and names, and a scene larger
// than the memory the program may have. Each is refused with the file, the place and what was expected,
// and nothing is evaluated.

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "scene/scene_format.h"
#include "tests/vantrel_run.h"

namespace vantrel::test {
namespace {

const std::string head = R"({"format": "vantrel-scene/1", "output": "a", "nodes": )";

/// A scene whose "nodes" holds `levels` lists, one inside the other.
std::string Nested(std::size_t levels) {
    return head + std::string(levels, '[') + std::string(levels, ']') + "}";
}

/// "line 1, column N" of the character `skip` places after the `nth` (from 0) `needle` in the one-line
/// `text`.
std::string At(const std::string& text, const std::string& needle, int nth = 0, std::size_t skip = 0) {
    std::size_t offset = text.find(needle);
    for (int i = 0; i < nth; ++i)
        offset = text.find(needle, offset + 1);
    return "line 1, column " + std::to_string(offset + skip + 1);
}

/// A scene of `doublings` Vector to color nodes after a first that reads the position, each reading
/// the node before it through both "In" and "Weights": a sample of node k evaluates 2^(k+1) - 1 nodes.
std::string Doubling(int doublings) {
    std::string nodes =
        R"([{"id": "n0", "type": "Vector to color", "params": {"In": {"link": "@position"}}})";
    for (int k = 1; k <= doublings; ++k) {
        const std::string before = "n" + std::to_string(k - 1);
        nodes += R"(, {"id": "n)" + std::to_string(k) + R"(", "type": "Vector to color", "params": )";
        nodes += R"({"In": {"link": ")" + before + R"("}, "Weights": {"link": ")" + before + R"("}}})";
    }
    return R"({"format": "vantrel-scene/1", "output": "n)" + std::to_string(doublings) + R"(", "nodes": )" +
           nodes + "]}";
}

const std::string lattice = R"~({"id": "a", "type": "Hexagonal lattice 3D(1)", "params": )~";
const std::string deepColour =
    head + R"([{"id": "a", "type": "Vector to color", "gradients": {"X color": [[0, [[1, 1, 1]]]]}}]})";
const std::string deepLink =
    head + R"([{"id": "a", "type": "Curve3", "params": {"In": {"link": {"a": {"b": {}}}}}}]})";
const std::string twiceOnTop = R"({"format": "vantrel-scene/1", "output": "a", "output": "b", "nodes": []})";
const std::string twiceInLink =
    head + R"([{"id": "a", "type": "Curve3", "params": {"In": {"link": "@position", "link": "a"}}}]})";
const std::string twiceInChannels = head + R"([{"id": "a", "type": "Curve3", "curves": {"Curve": )"
                                           R"({"red": [[0, 0]], "blue": [[0, 1]], "red": [[0, 1]]}}}]})";
const std::string twiceEscaped = head + R"([{"id": "a", "t\u0079pe": "Curve3", "type": "Curve3"}]})";
const std::string twiceInSecondNode = head + R"([{"id": "a", "type": "Curve3"}, {"id": "b", "id": "c"}]})";
const std::string oneNode = head + R"([{"id": "a", "type": "Curve3"}]})";
const std::string linkToMissing =
    head + R"([{"id": "a", "type": "Curve3", "params": {"In": {"link": "b"}}}]})";
const std::string unknownNodeKey = head + R"([{"id": "a", "type": "Curve3", "colour": 1}]})";
const std::string nulInString = head + R"([{"id": "a)" + std::string(1, '\0') + R"(", "type": "Curve3"}]})";

// Escaped, a NUL is JSON, but no id or name may hold one, as none could hold it raw.
const std::string escapedNulId =
    R"({"format": "vantrel-scene/1", "output": "a\u0000", "nodes": [{"id": "a\u0000", "type": "Curve3"}]})";
const std::string escapedNulOutput =
    R"({"format": "vantrel-scene/1", "output": "a\u0000", "nodes": [{"id": "a", "type": "Curve3"}]})";
const std::string escapedNulLink =
    head +
    R"([{"id": "a", "type": "Curve3"}, {"id": "b", "type": "Curve3", "params": {"In": {"link": "a\u0000"}}}]})";
const std::string escapedNulParam = head + R"([{"id": "a", "type": "Curve3", "params": {"In\u0000": 1}}]})";
const std::string escapedNulCurve =
    head + R"([{"id": "a", "type": "Curve3", "curves": {"Curve\u0000": {"red": [[0, 0]]}}}]})";
const std::string escapedNulGradient =
    head + R"([{"id": "a", "type": "Vector to color", "gradients": {"X color\u0000": [[0, [1, 1, 1]]]}}]})";

const std::string tooDeep = ": expected at most 7 levels of nested lists and objects";
const std::string twice = ": expected each key once in its object; this is the second";
const std::string nul = ": malformed JSON: a NUL character, which JSON text cannot hold";

struct Hostile {
    std::string what;
    std::string scene;
    std::string message;  ///< after "vantrel: hostile.json: "
};

/// The row of `scene`, refused at the member `key` (`pointer`) for the escaped NUL after `start` in it,
/// `kind` "an id" or "a name".
Hostile EscapedNul(const char* where, const std::string& scene, const std::string& key,
                   const std::string& pointer, const std::string& kind, const std::string& start) {
    return {"escaped NUL in " + std::string(where), scene,
            At(scene, key) + ": " + pointer + ": expected " + kind + " without a NUL character, not \"" +
                start + "\\u0000\""};
}

const Hostile hostile[] = {
    // Deep nesting: the parser stops at the first list or object deeper than any scene uses (the
    // colour of a gradient stop, seven levels down), where a copy of the tree once overflowed the stack.
    {"130,000 lists", Nested(130000), At(Nested(130000), "[", 6) + tooDeep},
    {"8 lists", Nested(8), At(Nested(8), "[", 6) + tooDeep},
    {"7 lists and an object", head + "[[[[[[{}]]]]]]}", At(head + "[[[[[[{}]]]]]]}", "{}") + tooDeep},
    {"a colour one level too deep", deepColour, At(deepColour, "[[1", 0, 1) + tooDeep},
    {"objects", deepLink, At(deepLink, "{}") + tooDeep},
    // The same key twice: the second is named by its path, with where it starts.
    {"top level", twiceOnTop, At(twiceOnTop, "\"output\"", 1) + ": /output" + twice},
    {"parameter", head + "[" + lattice + "{\"Subdivision\": 4,\n  \"Subdivision\": 9}}]}",
     "line 2, column 3: /nodes/0/params/Subdivision" + twice},
    {"link", twiceInLink, At(twiceInLink, "\"link\"", 1) + ": /nodes/0/params/In/link" + twice},
    {"curve channel", twiceInChannels,
     At(twiceInChannels, "\"red\"", 1) + ": /nodes/0/curves/Curve/red" + twice},
    {"escaped key", twiceEscaped, At(twiceEscaped, "\"type\"") + ": /nodes/0/type" + twice},
    {"second node", twiceInSecondNode, At(twiceInSecondNode, "\"id\"", 2) + ": /nodes/1/id" + twice},
    {"domain",
     oneNode.substr(0, oneNode.size() - 1) +
         ",\n  \"domain\": {\"kind\": \"plane\", \"min\": [0, 0], \"kind\": \"sphere\"}}",
     "line 2, column 46: /domain/kind" + twice},
    // A NUL byte: the text goes on after it, and is not JSON.
    {"NUL after a scene", oneNode + std::string(1, '\0') + R"({"this is": "not json)",
     "line 1, column " + std::to_string(oneNode.size() + 1) + nul},
    {"NUL in a string", nulInString, At(nulInString, std::string(1, '\0')) + nul},
    EscapedNul("an id", escapedNulId, "\"id\"", "/nodes/0/id", "an id", "a"),
    EscapedNul("the output", escapedNulOutput, "\"output\"", "/output", "an id", "a"),
    EscapedNul("a link", escapedNulLink, "\"link\"", "/nodes/1/params/In/link", "an id", "a"),
    EscapedNul("a parameter's name", escapedNulParam, "\"In\\u", "/nodes/0/params/In\\u0000", "a name", "In"),
    EscapedNul("a curve's name", escapedNulCurve, "\"Curve\\u", "/nodes/0/curves/Curve\\u0000", "a name",
               "Curve"),
    EscapedNul("a gradient's name", escapedNulGradient, "\"X color\\u", "/nodes/0/gradients/X color\\u0000",
               "a name", "X color"),
    // The cost of a sample: node 16 of the doubling graph evaluates 2^17 - 1 nodes a sample.
    {"doubling graph", Doubling(16),
     At(Doubling(16), "{\"id\": \"n16\"") +
         ": /nodes/16: expected a sample to take at most 100000 node evaluations; this node's takes 131071"},
    {"forty doublings", Doubling(40),
     At(Doubling(40), "{\"id\": \"n16\"") +
         ": /nodes/16: expected a sample to take at most 100000 node evaluations; this node's takes 131071"},
    // Messages that say what they got.
    {"link to a missing node", linkToMissing,
     At(linkToMissing, "\"link\"") +
         R"(: /nodes/0/params/In/link: expected "@position" or the id of a node, not "b"; the ids are "a")"},
    {"output naming a missing node",
     R"({"format": "vantrel-scene/1", "output": "b", "nodes": [{"id": "a", "type": "Curve3"}]})",
     R"(line 1, column 31: /output: expected the id of the node to evaluate, not "b"; the ids are "a")"},
    {"unknown node key", unknownNodeKey,
     At(unknownNodeKey, "\"colour\"") +
         R"(: /nodes/0/colour: expected one of the keys "id", "type", "params", "curves", "gradients")"},
};

class HostileScene : public VantrelTest {};

TEST_F(HostileScene, IsRefusedWithWhereAndWhy) {
    for (const Hostile& each : hostile) {
        SCOPED_TRACE(each.what);
        Write("hostile.json", each.scene);
        // No samples: before the cost was bounded, the graph of forty doublings loaded and its first
        // sample took hours.
        const RunResult run = Vantrel({"eval", "hostile.json"});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "vantrel: hostile.json: " + each.message + "\n");
    }
}

// What the refusals leave alone: seven levels of nesting, the same key in different objects, and a
// graph of 2^16 - 1 evaluations a sample, below the bound.
TEST_F(HostileScene, TheLimitsThemselvesLoad) {
    const std::string scenes[] = {
        head + R"([{"id": "a", "type": "Vector to color", "params": {"In": {"link": "@position"}},)"
               R"( "gradients": {"X color": [[0, [1, 0.5, 0.25]]]}}]})",
        head + R"([{"id": "a", "type": "Curve3", "curves": {"Curve": {"red": [[0, 0]], "blue": [[0, 1]]}}},)"
               R"( {"id": "b", "type": "Curve3", "curves": {"Curve": {"red": [[0, 0]]}}}]})",
        Doubling(15),
    };
    for (const std::string& scene : scenes) {
        SCOPED_TRACE(scene);
        Write("limit.json", scene);
        const RunResult run = Vantrel({"eval", "limit.json", "--type", "double"}, "0.5 0.25 0\n");
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_FALSE(run.out.empty());
    }
}

// A plane domain far narrower than high makes an image taller than a PNG holds: the message gives the
// height it would have (at vantrel's default width of 512), which it once gave as 1000000000.
TEST_F(HostileScene, ImageTooHighForItsDomainSaysHowHigh) {
    const struct {
        const char* width;
        const char* height;
    } cases[] = {{"1e-300", "about 5.12e+302"}, {"1e-320", "about 1.8e+308"}, {"1e-7", "5120000000"}};
    for (const auto& each : cases) {
        SCOPED_TRACE(each.width);
        Write("narrow.json", oneNode.substr(0, oneNode.size() - 1) +
                                 R"(, "domain": {"kind": "plane", "max": [)" + each.width + ", 1]}}");
        const RunResult run = Vantrel({"render", "narrow.json", "-o", "narrow.png"});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err,
                  std::string("vantrel: narrow.json: /domain: at a width of 512 the image would be ") +
                      each.height + " pixels high; expected at most 2147483647 for a PNG (or give --size)\n");
    }
}

// A scene far larger than the address space the program may have (the largest file, 16 MiB of text,
// each "0" a 16-byte value once parsed): the program says so and ends with status 1. The library's own
// way of freeing a tree allocates, which in the unwinding ended the program with std::terminate.
// AddressSanitizer cannot start under a limit of the address space, so this runs in the builds without
// it.
TEST_F(HostileScene, TooLargeForMemoryIsSaid) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer ends the program where operator new would throw";
#endif
    std::string scene = head + "[";
    while (scene.size() + 5 <= maxSceneFileBytes)
        scene += "0,";
    scene += "0]}";
    Write("large.json", scene);
    const RunResult run = Process({"/bin/sh", "-c", "ulimit -v 200000 && exec \"$0\" \"$@\"", VANTREL_PATH,
                                   "eval", "large.json"},
                                  work, root / "streams", "0 0 0\n")
                              .Wait();
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.err, "vantrel: not enough memory to read large.json\n");
    EXPECT_EQ(run.out, "");
}

// A scene file larger than the largest, or one that never ends (/dev/zero, which was read until memory
// ran out), is refused by name, read no further than the limit. Under a limit of the address space
// where AddressSanitizer allows, so that a vantrel that reads on runs out of memory, not the machine.
TEST_F(HostileScene, FileLargerThanTheLargestIsRefused) {
#if defined(__SANITIZE_ADDRESS__)
    const std::string limit = "true";
#else
    const std::string limit = "ulimit -v 1000000";
#endif
    Write("large.json", std::string(maxSceneFileBytes + 1, ' '));
    for (const std::string name : {"/dev/zero", "large.json"}) {
        SCOPED_TRACE(name);
        const RunResult run =
            Process({"/bin/sh", "-c", limit + " && exec \"$0\" \"$@\"", VANTREL_PATH, "eval", name}, work,
                    root / "streams", "")
                .Wait();
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err,
                  "vantrel: " + name +
                      ": expected a scene file of at most 16777216 bytes (16 MiB), not a larger one\n");
        EXPECT_LT(run.peakKiB, 100 * 1024);
    }
}

}  // namespace
}  // namespace vantrel::test
