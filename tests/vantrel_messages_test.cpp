// What `vantrel` says of bad input, run as a user runs it: every option's value out of what it takes,
// refused in vantrel's words ("OPTION: expected ..., not ..."), and input of megabytes or holding
// control characters, wherever a message repeats it (options, --set, --node, the scene's errors, sample
// lines, CLI11's own messages, file names), quoted as an excerpt: at most 80 bytes, with the length of
// the whole, control characters escaped, so that a message is one line that cannot drive the terminal.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/vantrel_run.h"

namespace vantrel::test {
namespace {

using Messages = VantrelTest;

struct Refused {
    std::vector<std::string> arguments;
    std::string message;                        ///< after "vantrel: ", before the line end
    std::string input = "";                     ///< standard input
    std::vector<std::string> environment = {};  ///< added to vantrel's, "NAME=value"
};

/// Refusals of options' values in vantrel's words.
std::vector<Refused> OptionsOutOfRange() {
    const std::string sizes = "--size: expected WIDTHxHEIGHT or WIDTH, whole numbers of pixels, not ";
    const std::string wide =
        "--size: expected at most 2147483647 pixels wide for a PNG (a PNG's sides are 31-bit numbers), not ";
    const std::string high =
        "--size: expected at most 2147483647 pixels high for a PNG (a PNG's sides are 31-bit numbers), not ";
    const std::string types =
        "--type: expected one of string, colora, color, quaternion, vec4, vec3, vec2, double, int, not ";
    const std::string samples =
        "--samples: expected a whole number from 1 to 16, the sub-samples along each side of a pixel, not ";
    const std::string limits = "--time-limit: expected a number of seconds from 0.1 to 86400 (a day), not ";
    const std::string threads = "--threads: expected a whole number from 1 to 1024, the render threads, not ";
    const std::vector<std::string> serve = {"serve", "scene.json", "--port", "0", "--time-limit"};
    std::vector<Refused> rows = {
        // Beyond 32 bits: a wrapping parse would make these 1x8 and 1x4.
        {{"render", "scene.json", "--size", "4294967297x8"}, wide + "4294967297"},
        {{"render", "scene.json", "--size", "-4294967295x4"},
         "--size: expected at least 1 pixel wide, not -4294967295"},
        {{"render", "scene.json", "--size", "8x4294967300"}, high + "4294967300"},
        {{"render", "scene.json", "--size", "-8x4"}, "--size: expected at least 1 pixel wide, not -8"},
        {{"render", "scene.json", "--size", "8x 4"}, sizes + "\"8x 4\""},
        {{"render", "scene.json", "--size", "2147483648x4"}, wide + "2147483648"},
        {{"render", "scene.json", "--size", ""}, sizes + "\"\""},  // given, if empty, it is no default
        {{"render", "scene.json", "--type", "foo"}, types + "\"foo\""},
        // The index of a type in the host's order is not a name of it.
        {{"render", "scene.json", "--type", "7"}, types + "\"7\""},
        {{"eval", "scene.json", "--type", "2"}, types + "\"2\""},
        {{"render", "scene.json", "-o", "out.exr", "--depth", "16"},
         "--depth: an OpenEXR image always holds 32-bit floats; --depth is for PNG, not out.exr"},
        {{"render", "scene.json", "--depth", "12"},
         "--depth: expected 8 or 16, the bits a channel of a PNG, not 12"},
        {{"render", "scene.json", "--threads", "0"}, threads + "0"},
        {{"render", "scene.json", "--threads", "1025"}, threads + "1025"},
        {{"serve", "scene.json", "--port", "65536"},
         "--port: expected a whole number from 0 to 65535, the port to listen on, not \"65536\""},
        {{"render", "scene.json", "--samples", "0"}, samples + "0"},
        {{"render", "scene.json", "--samples", "17"}, samples + "17"},
        {{"render", "scene.json", "--samples", "4294967298"}, samples + "4294967298"},
        {{"render", "scene.json", "--samples", "2.5"},
         "--samples: expected a whole number, the sub-samples along each side of a pixel, not \"2.5\""},
        {{"render", "scene.json", "--samples", "-3"}, samples + "-3"},
        // Given, --node names a node: empty, it is refused, not taken for the scene's output.
        {{"eval", "scene.json", "--node", ""}, "--node: expected the id of a node, not \"\""},
        {{"render", "scene.json", "--node", ""}, "--node: expected the id of a node, not \"\""},
        // A mean of integers is no integer.
        {{"render", "scene.json", "--samples", "2", "--type", "int"},
         "--samples: a pixel's sub-samples are averaged, and a mean of integers is no integer; --samples is "
         "for the real-valued types, not int"},
    };
    // Not-a-number, once taken, stopped every preview at once; an infinity or a year would stop none.
    for (const char* limit :
         {"nan", "-nan", "inf", "-inf", "0", "-1", "0.05", "86401", "1e9", "1e999", "5s", ""}) {
        std::vector<std::string> arguments = serve;
        arguments.push_back(limit);
        rows.push_back({arguments, limits + "\"" + limit + "\""});
    }
    return rows;
}

/// Input of megabytes, and input holding control characters, wherever a message repeats it.
std::vector<Refused> LongAndControlInput() {
    const std::string mega(1000000, '7');
    const std::string x(100000, 'x');
    const std::string x80 = std::string(80, 'x');
    const std::string red = "a\x1b[31mred";        // would turn the terminal's text red
    const std::string title = "\x1b]0;owned\x07";  // would retitle its window
    return {
        {{"eval", "scene.json"},
         "standard input: line 2: expected three numbers \"x y z\", not \"" + std::string(80, '7') +
             "\"... (1000000 bytes)",
         "0 0 0\n" + mega + "\n"},
        {{"eval", "scene.json"},  // cut before a character of two bytes that would not fit whole
         "standard input: line 1: expected three numbers \"x y z\", not \"" + std::string(79, '1') +
             "\"... (181 bytes)",
         std::string(79, '1') + "\xc3\xa9" + std::string(100, '2') + "\n"},
        {{"eval", "scene.json"},
         "standard input: line 1: expected three numbers \"x y z\", not \"1 2 \\u001b[31m\"",
         "1 2 \x1b[31m\n"},
        {{"eval", "many.json"},
         "many.json: line 1, column 32: /output: expected the id of the node to evaluate, not \"missing\"; "
         "the "
         "ids are \"n0\", \"n1\", \"n2\", \"n3\", \"n4\", \"n5\", \"n6\", \"n7\", \"n8\", \"n9\", \"n10\" "
         "and "
         "1989 more"},
        {{"render", "scene.json", "--size", std::string(100000, '9') + "x1"},
         "--size: expected WIDTHxHEIGHT or WIDTH, whole numbers of pixels, not \"" + std::string(80, '9') +
             "\"... (100002 bytes)"},
        // Before, each of these repeated the 100 KB whole, and the terminal obeyed the escapes.
        {{"render", "scene.json", "--set", x + ".In=1"},
         "--set " + x80 +
             "... (100005 bytes): expected the id of a node of scene.json before the dot, not \"" + x80 +
             "\"... (100000 bytes); the ids are \"c\""},
        {{"render", "scene.json", "--set", "c." + x + "=1"},
         "scene.json (with --set c." + std::string(78, 'x') + "... (100004 bytes)): /nodes/0/params/" + x80 +
             "... (100000 bytes): expected one of the parameters \"In\""},
        {{"eval", "scene.json", "--node", x},
         "scene.json (with --node " + x80 +
             "... (100000 bytes)): /output: expected the id of the node to "
             "evaluate, not \"" +
             std::string(79, 'x') + "... (100002 bytes); the ids are \"c\""},
        {{"render", "scene.json", "--set", red + ".In=1"},
         "--set a\\u001b[31mred.In=1: expected the id of a node of scene.json before the dot, not "
         "\"a\\u001b[31mred\"; the ids are \"c\""},
        {{"eval", "scene.json", "--node", red},
         "scene.json (with --node a\\u001b[31mred): /output: expected the id of the node to evaluate, not "
         "\"a\\u001b[31mred\"; the ids are \"c\""},
        {{"render", "scene.json", "--threads", title},
         "--threads: expected a whole number, "
         "the render threads, not \"\\u001b]0;owned\\u0007\""},
        // CLI11's own messages repeat what they did not expect.
        {{"render", "scene.json", x},
         "The following argument was not expected: " + x80 + "... (100000 bytes)"},
        {{"render", "scene.json", "--" + red}, "The following argument was not expected: --a\\u001b[31mred"},
        // A mistyped command, or none, is told the commands there are.
        {{"rendr", "scene.json"}, "expected a command: list, eval, render, bake, join, serve, not \"rendr\""},
        {{"--module", "rendr.so"}, "expected a command: list, eval, render, bake, join, serve"},
        // File names are shown whole, to be found, but none is longer than a path may be; and escaped.
        {{"eval", x}, "expected a file name of at most 4096 bytes, not \"" + x80 + "\"... (100000 bytes)"},
        {{"render", "scene.json", "-o", x + ".png"},
         "expected a file name of at most 4096 bytes, not \"" + x80 + "\"... (100004 bytes)"},
        {{"join", "a.png.part", "-o", x + ".png"},
         "expected a file name of at most 4096 bytes, not \"" + x80 + "\"... (100004 bytes)"},
        {{"eval", red + ".json"}, "a\\u001b[31mred.json: cannot read the file: No such file or directory"},
        {{"list"},
         "expected a file name of at most 4096 bytes, not \"" + x80 + "\"... (100000 bytes)",
         "",
         {"VANTREL_MODULE=" + x}},
    };
}

TEST_F(Messages, SayWhatWasExpectedAndQuoteExcerpts) {
    std::string manyNodes;
    for (int i = 0; i < 2000; ++i)
        manyNodes +=
            std::string(i ? ", " : "") + R"~({ "id": "n)~" + std::to_string(i) + R"~(", "type": "Curve3" })~";
    Write("many.json",
          R"~({ "format": "vantrel-scene/1", "output": "missing", "nodes": [ )~" + manyNodes + " ] }");
    Write("scene.json", curveScene);
    for (const std::vector<Refused>& table : {OptionsOutOfRange(), LongAndControlInput()}) {
        for (const Refused& row : table) {
            SCOPED_TRACE(row.message.substr(0, 200));
            const std::optional<RunResult> run =
                Start(row.arguments, row.input, row.environment).WaitAtMost(std::chrono::seconds(60));
            ASSERT_TRUE(run) << "it ran on: a server that took its option";
            EXPECT_EQ(run->status, 2);
            EXPECT_EQ(run->err, "vantrel: " + row.message + "\n");
        }
    }
    EXPECT_EQ(WorkFiles(), (std::vector<std::string>{"many.json", "scene.json"})) << "nothing is written";
}

// What render and join report on standard output names the image as a message would, escaped.
TEST_F(Messages, ReportsNameTheImageEscaped) {
    Write("scene.json", curveScene);
    const std::string red = "a\x1b[31m";
    const std::vector<std::string> commands[] = {
        {"render", "scene.json", "--size", "8x4", "-o", red + ".png"},
        {"render", "scene.json", "--size", "8x4", "--part", "1/1", "-o", red + ".png.part"},
        {"join", red + ".png.part", "-o", red + ".png"},
    };
    for (const std::vector<std::string>& arguments : commands) {
        SCOPED_TRACE(arguments.front());
        const RunResult run = Vantrel(arguments);
        EXPECT_EQ(run.status, 0) << run.err;
        std::string shown = arguments.back();  // the image, after -o
        shown.replace(shown.find('\x1b'), 1, "\\u001b");
        EXPECT_EQ(run.out.substr(0, shown.size() + 2), shown + ": ");
    }
}

}  // namespace
}  // namespace vantrel::test
