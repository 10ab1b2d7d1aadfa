// The stored form of a node: Save then Load evaluates bit-identically, and a bad object is refused with
// its JSON path while the node stays exactly as it was.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "host/curve_holder.h"
#include "host/gradient.h"
#include "host/param.h"
#include "quib/stored_form.h"
#include "scene/json_reader.h"
#include "tests/fixtures/quib_test_node.h"

namespace {

using json = quib::Json;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

json Saved(Function& node, std::function<std::string(const Function*)> nodeId = {}) {
    QuibOutputStream out;
    out.nodeId = std::move(nodeId);
    node.Save(out);
    return out.object;
}

/// Loads `object` into `node`; the failure it reports, if any.
std::optional<quib::Error> Load(Function& node, const json& object, Function* other = nullptr) {
    QuibInputStream in(object);
    in.pointer = "/nodes/1";
    in.ignoredKeys = {"id"};
    in.resolveLink = [&](const std::string& id) -> Function* {
        if (id == "self") return &node;
        return id == "other" ? other : nullptr;
    };
    node.Load(in);
    return in.failure;
}

/// The node's outputs at many sample positions, as bits.
std::vector<std::uint64_t> Fingerprint(Function& node) {
    std::vector<std::uint64_t> bits;
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> coordinate(-3.0, 3.0);
    for (int i = 0; i < 200; ++i) {
        FunContext context{{coordinate(random), coordinate(random), coordinate(random)}};
        double value;
        Color colour;
        node.Eval(&value, &context);
        node.Eval(&colour, &context);
        for (double v : {value, colour.red, colour.green, colour.blue})
            bits.push_back(std::bit_cast<std::uint64_t>(v));
    }
    return bits;
}

/// A test node with every kind of setting moved off its default, with reals that need all their digits.
void Scramble(QuibTestNode& node, std::mt19937_64& random) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto& params = node.Params();
    params[QuibTestNode::count]->SetConstant({-7, 0, 0, 0});
    params[QuibTestNode::offset]->SetConstant({unit(random) / 3.0, 0, 0, 0});
    params[QuibTestNode::direction]->LinkToPosition();
    params[QuibTestNode::weights]->SetConstant(
        {unit(random), -unit(random) * 1e-300, 1e300 * unit(random), 0.1});
    params[QuibTestNode::tint]->SetConstant({unit(random), unit(random), 1});
    std::vector<CurveHolder::Point> points;
    for (double x = -1.0; x < 4.0; x += 0.5 + unit(random))
        points.push_back({x, unit(random) / 7.0});
    node.Curves()[0]->SetPoints(0, points);
    node.Curves()[1]->SetPoints(2, {{0.0, unit(random)}, {0.3, 0.1 / 3.0}, {2.0 / 3.0, 1.0}});
    node.Gradients()[0]->SetStops({{-2.0, {unit(random), 0.0, 1.0}},
                                   {unit(random), {1.0 / 3.0, 0.2, 0.7}},
                                   {8.0, {0.0, unit(random), 0.5}}});
}

TEST(StoredForm, SaveThenLoadEvaluatesBitIdentically) {
    std::mt19937_64 random(11);
    for (int round = 0; round < 20; ++round) {
        QuibTestNode original;
        Scramble(original, random);
        // Through text, as a scene file would carry it.
        const json stored = json::parse(Saved(original).dump());
        QuibTestNode copy;
        EXPECT_FALSE(Load(copy, stored));
        EXPECT_EQ(Saved(copy), stored);
        EXPECT_EQ(Fingerprint(copy), Fingerprint(original));
    }
}

TEST(StoredForm, SavesTypeValuesAndLinks) {
    QuibTestNode source, node;
    node.Params()[QuibTestNode::offset]->SetConstant({nan, 0, 0, 0});
    node.Params()[QuibTestNode::direction]->SetConstant({inf, -inf, 1.5, 0});
    node.Params()[QuibTestNode::weights]->LinkTo(&source);
    node.Params()[QuibTestNode::tint]->LinkToPosition();
    const json stored = Saved(node, [&](const Function* f) { return f == &source ? "other" : "?"; });
    EXPECT_EQ(stored["type"], "Test node");  // no descriptor is loaded: the node's own name
    EXPECT_EQ(stored["params"]["Count"], 3);
    EXPECT_TRUE(stored["params"]["Count"].is_number_integer());
    EXPECT_EQ(stored["params"]["Offset"], "nan");
    EXPECT_EQ(stored["params"]["Direction"], json::parse(R"(["inf", "-inf", 1.5])"));
    EXPECT_EQ(stored["params"]["Weights"], json::parse(R"({"link": "other"})"));
    EXPECT_EQ(stored["params"]["Tint"], json::parse(R"({"link": "@position"})"));
    EXPECT_EQ(stored["curves"]["Grey"], json::parse("[[-1, 0], [4, 1]]"));
    EXPECT_EQ(stored["curves"]["RGB"]["green"], json::parse("[[0, 0], [1, 1]]"));
    EXPECT_EQ(stored["gradients"]["Colours"], json::parse("[[0, [0, 0, 0]], [1, [1, 1, 1]]]"));
    // Without ids a link names its source by object name.
    EXPECT_EQ(Saved(node)["params"]["Weights"]["link"], "test node");

    QuibTestNode copy;
    EXPECT_FALSE(Load(copy, stored, &source));
    EXPECT_EQ(copy.Params()[QuibTestNode::weights]->LinkedNode(), &source);
    EXPECT_TRUE(std::isnan(copy.Params()[QuibTestNode::offset]->Constant()[0]));
    EXPECT_EQ(copy.Params()[QuibTestNode::direction]->Constant()[1], -inf);
}

TEST(StoredForm, OmittedSettingsKeepTheirValues) {
    QuibTestNode node, other;
    EXPECT_FALSE(Load(node, json::parse(R"({"id": "n", "type": "0x51b00001",
        "params": {"Count": 4.0, "Offset": {"link": "other"}},
        "curves": {"RGB": {"green": [[0, 1]]}}})"),
                      &other));
    EXPECT_EQ(node.Params()[QuibTestNode::count]->GetInt(nullptr), 4);
    EXPECT_EQ(node.Params()[QuibTestNode::offset]->LinkedNode(), &other);
    EXPECT_EQ(node.Params()[QuibTestNode::tint]->Constant()[1], 0.25);
    EXPECT_EQ(node.Curves()[1]->EvalGreen(0.5), 1);
    EXPECT_EQ(node.Curves()[1]->EvalRed(0.5), 0.5);
    EXPECT_EQ(node.Curves()[0]->EvalGrey(1.5), 0.5);
    for (const char* type : {"Test node", "0X51B00001"})
        EXPECT_FALSE(Load(node, {{"type", type}})) << type;
}

struct BadRow {
    const char* stored;
    const char* path;
    const char* expected;  ///< a part of the message
};

const BadRow badTable[] = {
    {R"([1, 2])", "/nodes/1", "an object"},
    {R"({"type": "Curve3", "params": {"Nope": 1}})", "/nodes/1/type", "\"Test node\" or \"0x51b00001\""},
    {R"({"type": 5})", "/nodes/1/type", "the type"},
    {R"({"colour": 1})", "/nodes/1/colour", "\"params\""},
    {R"({"params": [1]})", "/nodes/1/params", "an object"},
    {R"({"params": {"Nope": 1}})", "/nodes/1/params/Nope", "\"Count\", \"Offset\", \"Direction\""},
    {R"({"params": {"Count": 1.5}})", "/nodes/1/params/Count", "whole number"},
    {R"({"params": {"Count": 3000000000}})", "/nodes/1/params/Count", "whole number"},
    {R"({"params": {"Count": -2147483649}})", "/nodes/1/params/Count", "whole number"},
    {R"({"params": {"Count": 11}})", "/nodes/1/params/Count", "within -10 .. 10"},
    {R"({"params": {"Count": "3"}})", "/nodes/1/params/Count", "whole number"},
    {R"({"params": {"Count": "nan"}})", "/nodes/1/params/Count", "whole number"},
    {R"({"params": {"Count": true}})", "/nodes/1/params/Count", "whole number"},
    {R"({"params": {"Offset": [1]}})", "/nodes/1/params/Offset", "a number"},
    {R"({"params": {"Offset": "NaN"}})", "/nodes/1/params/Offset", "a number"},
    {R"({"params": {"Offset": null}})", "/nodes/1/params/Offset", "a number"},
    {R"({"params": {"Direction": [1, 2]}})", "/nodes/1/params/Direction", "3 numbers"},
    {R"({"params": {"Direction": [1, 2, "x"]}})", "/nodes/1/params/Direction/2", "a number"},
    {R"({"params": {"Weights": [1, 2, 3]}})", "/nodes/1/params/Weights", "4 numbers"},
    {R"({"params": {"Tint": [0, 2, 0]}})", "/nodes/1/params/Tint", "within [0, 0, 0] .. [1, 1, 1]"},
    {R"({"params": {"Tint": ["nan", 0, 0]}})", "/nodes/1/params/Tint", "within"},
    {R"({"params": {"Offset": {"link": "ghost"}}})", "/nodes/1/params/Offset/link",
     "not \"ghost\"; there is no such node"},
    {R"({"params": {"Offset": {"link": "self"}}})", "/nodes/1/params/Offset/link", "another node"},
    {R"({"params": {"Offset": {"link": 3}}})", "/nodes/1/params/Offset/link", "node id"},
    {R"({"params": {"Offset": {"link": "@position", "x": 1}}})", "/nodes/1/params/Offset", "a link"},
    {R"({"params": {"Offset": {}}})", "/nodes/1/params/Offset", "a link"},
    {R"({"curves": {"Grey": [[0, 0], [0, 1]]}})", "/nodes/1/curves/Grey/1/0", "above the previous"},
    {R"({"curves": {"Grey": [[1, 0], [0, 1]]}})", "/nodes/1/curves/Grey/1/0", "above the previous"},
    {R"({"curves": {"Grey": []}})", "/nodes/1/curves/Grey", "at least one"},
    {R"({"curves": {"Grey": [[0, "nan"]]}})", "/nodes/1/curves/Grey/0/1", "finite number"},
    {R"({"curves": {"Grey": [[0, 1, 2]]}})", "/nodes/1/curves/Grey/0", "[x, y]"},
    {R"({"curves": {"Grey": {"red": [[0, 0]]}}})", "/nodes/1/curves/Grey", "at least one"},
    {R"({"curves": {"RGB": [[0, 0]]}})", "/nodes/1/curves/RGB", "an object"},
    {R"({"curves": {"RGB": {"alpha": [[0, 0]]}}})", "/nodes/1/curves/RGB/alpha",
     "\"red\", \"green\", \"blue\""},
    {R"({"curves": {"Nope": [[0, 0]]}})", "/nodes/1/curves/Nope", "\"Grey\", \"RGB\""},
    {R"({"gradients": {"Colours": [[0, [1, 1]]]}})", "/nodes/1/gradients/Colours/0/1", "[r, g, b]"},
    {R"({"gradients": {"Colours": [[0, [1, 1, 1]], [0, [0, 0, 0]]]}})", "/nodes/1/gradients/Colours/1/0",
     "above the previous"},
    {R"({"gradients": {"Colours": [[0, [1, "inf", 1]]]}})", "/nodes/1/gradients/Colours/0/1/1", "finite"},
    {R"({"gradients": {"Colours": [0, [1, 1, 1]]}})", "/nodes/1/gradients/Colours/0", "stop"},
    {R"({"gradients": {"Other": []}})", "/nodes/1/gradients/Other", "\"Colours\""},
};

TEST(StoredForm, BadObjectsAreRefusedWithTheirPathAndChangeNothing) {
    std::mt19937_64 random(13);
    for (const BadRow& row : badTable) {
        SCOPED_TRACE(row.stored);
        QuibTestNode node, other;
        Scramble(node, random);
        const json before = Saved(node);
        const auto fingerprint = Fingerprint(node);
        // Good settings ahead of the bad one must not be applied either.
        json stored = json::parse(row.stored);
        if (stored.is_object() && !stored.contains("params")) stored["params"] = {{"Count", 9}};
        const std::optional<quib::Error> error = Load(node, stored, &other);
        ASSERT_TRUE(error) << "accepted";
        EXPECT_EQ(error->Pointer(), row.path);
        EXPECT_NE(std::string(error->what()).find(row.expected), std::string::npos) << error->what();
        EXPECT_EQ(std::string(error->what())
                      .rfind(std::string(row.path) + ": expected " + error->ExpectedText(), 0),
                  0u);
        EXPECT_EQ(Saved(node), before);
        EXPECT_EQ(Fingerprint(node), fingerprint);
    }
}

// The text of a stored form, read by the host's parser: what JSON allows but a stored form cannot mean
// is refused with where it is, and the deepest stored form there is reads back as written.
TEST(StoredForm, TextIsReadStrictly) {
    const struct {
        std::string text;
        const char* where;
        const char* expected;
    } refused[] = {
        {R"({"params": {"Count": 1, "Count": 2}})", "line 1, column 25: /params/Count",
         "expected each key once in its object; this is the second"},
        {"{\"curves\": {}, \n \"curves\": {}}", "line 2, column 2: /curves",
         "expected each key once in its object; this is the second"},
        {R"({"gradients": {"Colours": [[0, [[1], 1, 1]]]}})", "line 1, column 33",
         "expected at most 5 levels of nested lists and objects"},
        {std::string(R"({"type": "x"})") + '\0' + "garbage", "line 1, column 14",
         "malformed JSON: a NUL character, which JSON text cannot hold"},
        {R"({"params": {"Count": 1e999}})", "line 1, column 22",
         "expected a number of at most 1.8e308 in size: number overflow parsing '1e999'"},
        {R"({"params": })", "line 1, column 12", "malformed JSON: syntax error while parsing value"},
    };
    for (const auto& row : refused) {
        SCOPED_TRACE(row.text);
        try {
            vantrel::JsonDocument::Parse(row.text, quib::storedFormNesting);
            ADD_FAILURE() << "accepted";
        } catch (const quib::Error& error) {
            EXPECT_EQ(std::string(error.what()).rfind(std::string(row.where) + ": " + row.expected, 0), 0u)
                << error.what();
        }
    }
    QuibTestNode node;
    const std::string deepest = R"({"gradients": {"Colours": [[0, [0.5, 0.25, 1]]]}, "id": "a"})";
    EXPECT_FALSE(Load(node, vantrel::JsonDocument::Parse(deepest, quib::storedFormNesting).Value()));
    EXPECT_EQ(Saved(node)["gradients"]["Colours"], json::parse("[[0, [0.5, 0.25, 1]]]"));
}

}  // namespace
