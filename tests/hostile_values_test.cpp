// Hostile values in evaluation: not-a-number, the infinities, +-1e308 and the int extremes in every
// parameter of every node, as constants (range checks bypassed) and through links to another node and
// to the sample position, read in every output type. Nothing may crash or be undefined: the asan preset
// runs this under UndefinedBehaviorSanitizer with float-cast-overflow. Results are what IEEE arithmetic
// gives them; the table at the end pins down cases worked out by hand.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "generators/hex_lattice.h"
#include "generators/leapfrog_fractal.h"
#include "mappers/curve3.h"
#include "mappers/vector_to_color.h"
#include "mappers/w_distortion.h"
#include "quib/module_loader.h"
#include "tests/node_values.h"

namespace {

using vantrel::test::Components;
using vantrel::test::Evaluate;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

constexpr double hostileValues[] = {nan, inf, -inf, 1e308, -1e308, INT_MIN, INT_MAX};

/// A node of the host's node library, loaded through its exports (its objects and the product's
/// export the same three names, so a program links only one of them).
std::unique_ptr<Function> HostNode(const std::string& typeName) {
    static const quib::Module nodes(QUIB_NODES_PATH);
    return nodes.Find(typeName)->Create();
}

/// A node of each type, the lattice in both of its modes.
struct NodeKind {
    const char* name;
    std::function<std::unique_ptr<Function>()> make;
};

const NodeKind nodeKinds[] = {
    {"lattice on the sphere", [] { return std::make_unique<FHexLattice>(); }},
    {"lattice on the plane",
     [] {
         auto node = std::make_unique<FHexLattice>();
         node->FindParam("(2=plane, 3=sphere)(how to make list box]")->SetConstant({2});
         return node;
     }},
    {"vector to color", [] { return std::make_unique<FVectorToColor>(); }},
    {"curve3", [] { return std::make_unique<FCurve3>(); }},
    {"w distortion", [] { return std::make_unique<FWDistortion>(); }},
    {"leapfrog", [] { return std::make_unique<FLeapFrogFractal>(); }},
    // The host's own nodes, from their module.
    {"remap", [] { return HostNode("Remap"); }},
    {"math", [] { return HostNode("Math"); }},
    {"random", [] { return HostNode("Random"); }},
    {"gradient map", [] { return HostNode("Gradient map"); }},
    {"mix", [] { return HostNode("Mix"); }},
    {"combine", [] { return HostNode("Combine"); }},
    {"pick", [] { return HostNode("Pick"); }},
};

/// How a hostile value reaches a parameter.
enum class Way {
    EveryComponent,  ///< a constant with the value in every component
    FirstComponent,  ///< a constant with the value in the first component only
    LinkedNode,      ///< a link to a node whose every output has the value in every component
    LinkedPosition,  ///< a link to the sample position, which has the value in every component
};
constexpr Way ways[] = {Way::EveryComponent, Way::FirstComponent, Way::LinkedNode, Way::LinkedPosition};
constexpr const char* wayNames[] = {"every component", "first component", "linked node", "linked position"};

/// A W distortion answers v in every component of every output type (its int output truncated).
std::unique_ptr<Function> Source(double v) {
    auto source = std::make_unique<FWDistortion>();
    source->FindParam("Position")->SetConstant({v, v, v});
    source->FindParam("Distortion")->SetConstant({v});
    return source;
}

/// Every output type at `position`. A double result that is not finite must give the saturated int:
/// 0 for not-a-number, INT_MAX for +infinity, INT_MIN for -infinity.
void EvaluateEveryType(Function& node, const Vec3d& position, const std::string& what) {
    Evaluate<std::string>(node, position);
    Evaluate<ColorA>(node, position);
    Evaluate<Color>(node, position);
    Evaluate<Quaternion>(node, position);
    Evaluate<Vec4d>(node, position);
    Evaluate<Vec3d>(node, position);
    Evaluate<Vec2d>(node, position);
    const double real = Evaluate<double>(node, position);
    const int whole = Evaluate<int>(node, position);
    if (std::isfinite(real)) return;
    EXPECT_EQ(whole, std::isnan(real) ? 0 : real > 0 ? INT_MAX : INT_MIN) << what;
}

TEST(HostileValues, EveryParameterOfEveryNodeInEveryOutputType) {
    const Vec3d positions[] = {{0, 0, 0}, {0.3, -0.4, 0.8}, {2.5, 1.5, 0}};
    int cases = 0;
    for (const NodeKind& kind : nodeKinds) {
        const std::size_t paramCount = kind.make()->Params().size();
        for (std::size_t index = 0; index < paramCount; ++index) {
            for (const double v : hostileValues) {
                for (const Way way : ways) {
                    const std::unique_ptr<Function> source = Source(v);
                    const std::unique_ptr<Function> node = kind.make();
                    Param& param = *node->Params()[index];
                    const std::string what = std::string(kind.name) + ", " + param.Name() + " = " +
                                             std::to_string(v) + ", " + wayNames[static_cast<int>(way)];
                    // With the default directions no round ever stops, and 2^31 - 1 rounds take minutes:
                    // a radius that stops in the first round keeps the huge counts to one round.
                    if (param.Name() == "Iterations") node->FindParam("Radius")->SetConstant({1.5});
                    switch (way) {
                        case Way::EveryComponent:
                            param.SetConstant({v, v, v, v});
                            break;
                        case Way::FirstComponent: {
                            Param::Components constant = param.Constant();
                            constant[0] = v;
                            param.SetConstant(constant);
                            break;
                        }
                        case Way::LinkedNode:
                            param.LinkTo(source.get());
                            break;
                        case Way::LinkedPosition:
                            param.LinkToPosition();
                            break;
                    }
                    FunContext context{{v, v, v}};
                    node->Update(0, &context);
                    if (way == Way::LinkedPosition) {
                        EvaluateEveryType(*node, {v, v, v}, what);
                    } else {
                        for (const Vec3d& position : positions)
                            EvaluateEveryType(*node, position, what);
                    }
                    ++cases;
                }
            }
        }
    }
    // 18 parameters over the six kinds of the product's nodes, 23 over the host's, 7 values, 4 ways.
    EXPECT_EQ(cases, (18 + 23) * 7 * 4);
}

TEST(HostileValues, SamplePositionsInEveryNode) {
    for (const NodeKind& kind : nodeKinds) {
        const std::unique_ptr<Function> node = kind.make();
        // Every parameter but the round count: not-a-number directions never stop, so a count from a
        // huge position would run 2^31 - 1 rounds.
        for (Param* param : node->Params()) {
            if (param->Name() != "Iterations") param->LinkToPosition();
        }
        FunContext context{};
        node->Update(0, &context);
        for (const double v : hostileValues) {
            EvaluateEveryType(*node, {v, v, v}, kind.name);
            EvaluateEveryType(*node, {v, 0.5, -0.25}, kind.name);
        }
    }
}

// ---- Exact results worked out by hand ---------------------------------------------------------------

/// Equal, or both not-a-number.
bool SameReal(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

struct Setting {
    const char* param;
    Param::Components value;
};

struct ExactCase {
    const char* what;
    std::size_t kind;  ///< index into nodeKinds
    std::vector<Setting> settings;
    std::vector<double> colour;  ///< the Color output
    double real;                 ///< the double output
    int whole;                   ///< the int output
    const char* text;            ///< the text output
};

constexpr std::size_t sphereLattice = 0, planeLattice = 1, vectorToColor = 2, curve3 = 3, wDistortion = 4,
                      leapfrog = 5;

const ExactCase exactCases[] = {
    // The default directions never stop; the last squared length, 1, over 0.
    {"leapfrog, radius 0", leapfrog, {{"Radius", {0}}}, {inf, inf, inf}, inf, INT_MAX, "inf"},
    // No squared length is below not-a-number, and 1 / nan is not-a-number.
    {"leapfrog, radius nan", leapfrog, {{"Radius", {nan}}}, {nan, nan, nan}, nan, 0, "nan"},
    // r2 overflows to +inf, so the first sum, 2, stops at once: 2 / inf.
    {"leapfrog, radius -1e308", leapfrog, {{"Radius", {-1e308}}}, {0, 0, 0}, 0, 0, "0"},
    {"leapfrog, radius inf", leapfrog, {{"Radius", {inf}}}, {0, 0, 0}, 0, 0, "0"},
    // |A| overflows, 1 / |A| is 0 and A becomes the zero vector; so does its mirror image P, and
    // |P|^2 = 0 stops the first round.
    {"leapfrog, A = 1e308", leapfrog, {{"A", {1e308, 1e308, 1e308}}}, {0, 0, 0}, 0, 0, "0"},
    // inf * (1 / inf) is not-a-number.
    {"leapfrog, A = inf", leapfrog, {{"A", {inf, inf, inf}}}, {nan, nan, nan}, nan, 0, "nan"},
    {"leapfrog, C = nan", leapfrog, {{"C", {nan, 0, 0}}}, {nan, nan, nan}, nan, 0, "nan"},
    {"leapfrog, iterations INT_MIN", leapfrog, {{"Iterations", {INT_MIN}}}, {0, 0, 0}, 0, 0, "0"},
    // The first round stops at |v + w|^2 = 2 < 2.25, however many rounds were allowed.
    {"leapfrog, iterations INT_MAX",
     leapfrog,
     {{"Iterations", {INT_MAX}}, {"Radius", {1.5}}},
     {2 / 2.25, 2 / 2.25, 2 / 2.25},
     2 / 2.25,
     0,
     "0.8888888888888888"},
    // Weights that sum to 0: 0 * (1 / 0) is not-a-number.
    {"vector to color, zero weights",
     vectorToColor,
     {{"Weights", {0, 0, 0, 0}}},
     {nan, nan, nan},
     nan,
     0,
     "(nan, nan, nan)"},
    // The weight sum overflows, its reciprocal is 0, and so is every share: black.
    {"vector to color, weights 1e308",
     vectorToColor,
     {{"Weights", {1e308, 1e308, 1e308, 1e308}}},
     {0, 0, 0},
     0,
     0,
     "(0, 0, 0)"},
    {"vector to color, weights inf",
     vectorToColor,
     {{"Weights", {inf, 1, 1, 1}}},
     {nan, nan, nan},
     nan,
     0,
     "(nan, nan, nan)"},
    // Beyond the last stop every gradient is white; a quarter of each.
    {"vector to color, in +inf",
     vectorToColor,
     {{"In", {inf, inf, inf, inf}}},
     {1, 1, 1},
     3 * 0.3333333333333,
     254,
     "(1, 1, 1)"},
    {"vector to color, in -1e308",
     vectorToColor,
     {{"In", {-1e308, -1e308, -1e308, -1e308}}},
     {0, 0, 0},
     0,
     0,
     "(0, 0, 0)"},
    {"vector to color, in nan",
     vectorToColor,
     {{"In", {nan, 0, 0, 0}}},
     {nan, nan, nan},
     nan,
     0,
     "(nan, nan, nan)"},
    // A curve is constant beyond its end points and passes not-a-number through.
    {"curve3, in nan inf -inf", curve3, {{"In", {nan, inf, -inf}}}, {nan, 1, 0}, nan, 0, "(nan, 1, 0)"},
    {"curve3, in INT_MAX -1e308 1e308",
     curve3,
     {{"In", {INT_MAX, -1e308, 1e308}}},
     {1, 0, 1},
     2 * 0.3333333333333,
     169,
     "(1, 0, 1)"},
    {"w distortion, 1e308",
     wDistortion,
     {{"Position", {nan, inf, -inf}}, {"Distortion", {1e308}}},
     {nan, inf, 1e308},
     1e308,
     INT_MAX,
     "(nan, inf, 1e+308)"},
    {"w distortion, -1e308",
     wDistortion,
     {{"Distortion", {-1e308}}},
     {0, 0, -1e308},
     -1e308,
     INT_MIN,
     "(0, 0, -1e+308)"},
    {"w distortion, INT_MIN",
     wDistortion,
     {{"Distortion", {INT_MIN}}},
     {0, 0, INT_MIN},
     INT_MIN,
     INT_MIN,
     "(0, 0, -2147483648)"},
    {"w distortion, -inf",
     wDistortion,
     {{"Distortion", {-inf}}},
     {0, 0, -inf},
     -inf,
     INT_MIN,
     "(0, 0, -inf)"},
    {"w distortion, nan", wDistortion, {{"Distortion", {nan}}}, {0, 0, nan}, nan, 0, "(0, 0, nan)"},
    // No face record has |n.p| above the threshold for a not-a-number direction: nothing is found.
    {"sphere lattice, position nan",
     sphereLattice,
     {{"Position", {nan, 0, 0}}},
     {0, 0, 0},
     0,
     0,
     "(0, 0, 0)"},
    // Within 1e-10 (squared) of the origin there is no direction either.
    {"sphere lattice, position 1e-308",
     sphereLattice,
     {{"Position", {1e-308, 0, 0}}},
     {0, 0, 0},
     0,
     0,
     "(0, 0, 0)"},
    // The plane lattice of a not-a-number point: every corner, distance and weight is not-a-number, and a
    // weighted average with a not-a-number total gives the nearest corner, (nan, nan).
    {"plane lattice, position nan",
     planeLattice,
     {{"Position", {nan, 0, 0}}},
     {nan, nan, 0},
     nan,
     0,
     "(nan, nan, 0)"},
    // A mode other than 2 or 3 writes nothing: the derived outputs start from zero.
    {"lattice, mode INT_MAX",
     sphereLattice,
     {{"Position", {1, 0, 0}}, {"(2=plane, 3=sphere)(how to make list box]", {INT_MAX}}},
     {0, 0, 0},
     -12345,  // the double output is left as the caller had it
     0,
     "(0, 0, 0)"},
};

TEST(HostileValues, ResultsAsTheArithmeticGivesThem) {
    for (const ExactCase& c : exactCases) {
        SCOPED_TRACE(c.what);
        const std::unique_ptr<Function> node = nodeKinds[c.kind].make();
        for (const Setting& setting : c.settings)
            node->FindParam(setting.param)->SetConstant(setting.value);
        FunContext context{};
        node->Update(0, &context);

        const std::vector<double> colour = Components(Evaluate<Color>(*node));
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_TRUE(SameReal(colour[i], c.colour[i])) << "channel " << i << ": " << colour[i];
        const double real = Evaluate<double>(*node);
        EXPECT_TRUE(SameReal(real, c.real)) << real;
        EXPECT_EQ(Evaluate<int>(*node), c.whole);
        EXPECT_EQ(Evaluate<std::string>(*node), c.text);
    }
}

// The same values reach a parameter through a link as the linked node's own output: an int parameter
// reads the source's int output, which saturates.
TEST(HostileValues, LinkedIntParametersSaturate) {
    struct LinkedCase {
        double sourceValue;
        double result;
    };
    // Iterations below 1 gives 0; the radius 1.5 stops any round count of 1 or more at 2 / 2.25.
    const LinkedCase cases[] = {{nan, 0},        {-inf, 0},         {-1e308, 0},        {INT_MIN, 0},
                                {inf, 2 / 2.25}, {1e308, 2 / 2.25}, {INT_MAX, 2 / 2.25}};
    for (const LinkedCase& c : cases) {
        const std::unique_ptr<Function> source = Source(c.sourceValue);
        FLeapFrogFractal node;
        node.FindParam("Radius")->SetConstant({1.5});
        node.FindParam("Iterations")->LinkTo(source.get());
        EXPECT_EQ(Evaluate<double>(node), c.result) << c.sourceValue;
    }
}

// A negative subdivision puts the lattice on the far side of the icosahedron, however far: the blended
// corner points away from the sample, and is a weighted average of unit vectors.
TEST(HostileValues, SubdivisionIntMinPointsAway) {
    FHexLattice node;
    node.FindParam("Position")->SetConstant({0.6, 0.48, 0.64});
    node.FindParam("Subdivision")->SetConstant({INT_MIN});
    FunContext context{};
    node.Update(0, &context);
    const Vec3d p = Evaluate<Vec3d>(node);
    EXPECT_LT(p.x, 0);
    EXPECT_LT(p.y, 0);
    EXPECT_LT(p.z, 0);
    EXPECT_LE(p.Length(), 1 + 1e-12);
}

}  // namespace
