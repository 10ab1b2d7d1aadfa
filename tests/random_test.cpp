// The random node's numbers: which vectors share a value (those within one rounding step, -0 and 0,
// every not-a-number), draws on a grid in [0, 1), uniform by a chi-square test, and independent between
// neighbouring cells, between seeds and between the value and the colour's channels.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "quib_nodes/colour_nodes.h"
#include "quib_nodes/random_hash.h"
#include "tests/node_values.h"

namespace {

using quibnodes::RandomDraw;
using quibnodes::RandomKey;
using quibnodes::randomStep;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

double Up(double x) {
    return std::nextafter(x, inf);
}

TEST(RandomKey, VectorsWithinAStepShareAKeyAndOthersDoNot) {
    const double s = randomStep;
    const Vec3d p(0.3, -0.2, 0.9);
    const struct {
        const char* what;
        Vec3d a, b;
        bool same;
    } cases[] = {
        {"-0 is 0", Vec3d(0, 0, 0), Vec3d(-0.0, -0.0, -0.0), true},
        {"a last-place difference", p, Vec3d(Up(p.x), Up(p.y), Up(p.z)), true},
        {"a tenth of a step", Vec3d(1, 2, 3), Vec3d(1 + s / 10, 2 - s / 10, 3), true},
        {"half a step below rounds up", Vec3d(0, 0, 0), Vec3d(-s / 2, 0, 0), true},
        {"half a step above rounds up", Vec3d(0, 0, 0), Vec3d(s / 2, 0, 0), false},
        {"a step apart", Vec3d(0.25, 0, 0), Vec3d(0.25 + s, 0, 0), false},
        {"a step apart in z", Vec3d(1, 1, 1), Vec3d(1, 1, 1 - s), false},
        {"components in another order", Vec3d(1, 2, 3), Vec3d(3, 2, 1), false},
        {"every not-a-number", Vec3d(nan, 0, 0), Vec3d(-std::numeric_limits<double>::signaling_NaN(), 0, 0),
         true},
        {"not-a-number is not infinity", Vec3d(nan, 0, 0), Vec3d(inf, 0, 0), false},
        {"beyond 2^1008 is infinity", Vec3d(1e304, 0, 0), Vec3d(inf, 0, 0), true},
        {"below it is not", Vec3d(1e303, 0, 0), Vec3d(inf, 0, 0), false},
        {"-infinity", Vec3d(-1e304, 0, 0), Vec3d(-inf, 0, 0), true},
    };
    for (const auto& c : cases) {
        for (int seed : {0, -1, 12345}) {
            EXPECT_EQ(RandomKey(c.a, seed) == RandomKey(c.b, seed), c.same) << c.what << ", seed " << seed;
        }
    }
    EXPECT_NE(RandomKey(p, 0), RandomKey(p, 1));
    EXPECT_NE(RandomKey(p, -1), RandomKey(p, 1));
}

/// The pearson correlation of two series.
double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
    const double n = static_cast<double>(a.size());
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        sa += a[i];
        sb += b[i];
        saa += a[i] * a[i];
        sbb += b[i] * b[i];
        sab += a[i] * b[i];
    }
    return (sab - sa * sb / n) / std::sqrt((saa - sa * sa / n) * (sbb - sb * sb / n));
}

/// Pearson's chi-square statistic of values in [0, 1) over `bins` equal bins.
double ChiSquare(const std::vector<double>& values, int bins) {
    std::vector<double> counts(bins);
    for (double v : values)
        counts[static_cast<int>(v * bins)] += 1;
    const double expected = static_cast<double>(values.size()) / bins;
    double chi = 0;
    for (double count : counts)
        chi += (count - expected) * (count - expected) / expected;
    return chi;
}

/// The chi-square statistic of pairs (a[i], b[i]) over `bins` x `bins` bins: large when one says
/// anything of the other.
double JointChiSquare(const std::vector<double>& a, const std::vector<double>& b, int bins) {
    std::vector<double> joint;
    for (std::size_t i = 0; i < a.size(); ++i)
        joint.push_back((static_cast<int>(a[i] * bins) * bins + static_cast<int>(b[i] * bins) + 0.5) /
                        (bins * bins));
    return ChiSquare(joint, bins * bins);
}

// The 0.999 quantiles of the chi-square distribution with 63 and 255 degrees of freedom: a sound
// generator exceeds them once in a thousand tests, and these are fixed numbers, checked once.
constexpr double chi63 = 103.4;
constexpr double chi255 = 330.5;

/// 256 x 256 cells of a grid with sides `side`, and their neighbours a side away in x: their values.
struct GridDraws {
    std::vector<double> value, right, red, green, blue, otherSeed;
};

GridDraws DrawOverGrid(double side) {
    GridDraws draws;
    for (int i = 0; i < 256; ++i) {
        for (int j = 0; j < 256; ++j) {
            const Vec3d p(i * side, j * side, 0.5);
            const std::uint64_t key = RandomKey(p, 7);
            draws.value.push_back(RandomDraw(key, 0));
            draws.red.push_back(RandomDraw(key, 1));
            draws.green.push_back(RandomDraw(key, 2));
            draws.blue.push_back(RandomDraw(key, 3));
            draws.right.push_back(RandomDraw(RandomKey(Vec3d(p.x + side, p.y, p.z), 7), 0));
            draws.otherSeed.push_back(RandomDraw(RandomKey(p, 8), 0));
        }
    }
    return draws;
}

TEST(RandomDraw, UniformAndIndependentOfNeighboursSeedsAndChannels) {
    // Cells one rounding step apart, the closest two cells can be, and a lattice's cells 0.1 apart.
    for (const double side : {randomStep, 0.1}) {
        SCOPED_TRACE("cells " + std::to_string(side) + " apart");
        const GridDraws d = DrawOverGrid(side);
        const double bound = 4 / std::sqrt(static_cast<double>(d.value.size()));  // four deviations
        for (const std::vector<double>* series : {&d.value, &d.red, &d.green, &d.blue})
            EXPECT_LT(ChiSquare(*series, 64), chi63);
        for (const std::vector<double>* other : {&d.right, &d.otherSeed, &d.red, &d.green, &d.blue}) {
            EXPECT_LT(std::abs(Correlation(d.value, *other)), bound);
            EXPECT_LT(JointChiSquare(d.value, *other, 16), chi255);
        }
        EXPECT_LT(JointChiSquare(d.red, d.green, 16), chi255);
    }
}

TEST(RandomDraw, OnAGridOf2ToTheMinus53BelowOne) {
    double least = 1, most = 0;
    for (std::uint64_t key = 0; key < 100000; ++key) {
        const double v = RandomDraw(key * 0x9E3779B97F4A7C15ULL, 0);
        least = std::min(least, v);
        most = std::max(most, v);
        const double units = v * 0x1.0p53;
        EXPECT_EQ(units, std::floor(units)) << v;
    }
    EXPECT_GE(least, 0.0);
    EXPECT_LT(most, 1.0);
    EXPECT_LT(least, 1e-4);
    EXPECT_GT(most, 1 - 1e-4);
}

TEST(RandomNode, RealAndIntAreTheValueEveryOtherTypeTheColour) {
    quibnodes::FRandom node;
    node.FindParam("Vector")->SetConstant({0.3, -0.2, 0.9});
    node.FindParam("Seed")->SetConstant({4});
    const std::uint64_t key = RandomKey(Vec3d(0.3, -0.2, 0.9), 4);
    const double r = RandomDraw(key, 1), g = RandomDraw(key, 2), b = RandomDraw(key, 3);
    using vantrel::test::Components;
    using vantrel::test::Evaluate;
    EXPECT_EQ(Evaluate<double>(node), RandomDraw(key, 0));
    EXPECT_EQ(Evaluate<int>(node), 0);
    EXPECT_EQ(Components(Evaluate<Color>(node)), (std::vector<double>{r, g, b}));
    EXPECT_EQ(Components(Evaluate<ColorA>(node)), (std::vector<double>{r, g, b, 1}));
    EXPECT_EQ(Components(Evaluate<Vec3d>(node)), (std::vector<double>{r, g, b}));
    EXPECT_EQ(Components(Evaluate<Vec4d>(node)), (std::vector<double>{r, g, b, 0}));
}

}  // namespace
