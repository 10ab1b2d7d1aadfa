// The random node wired to the hexagonal lattice's cell centres, through a scene of both modules: every
// cell of the sphere lattice gets one value wherever it is sampled, though the lattice computes a
// cell's centre from whichever icosahedron face the sample falls in and the centres' bits differ
// between faces; and different cells get different values.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include "tests/scene_text.h"

namespace {

using vantrel::test::SceneFromText;

/// The lattice on the sphere with the nearest corner's weight alone, so that its vector is the centre
/// of the cell around the sample, and the random node reading it.
std::string CellScene(int subdivision) {
    return R"~({ "format": "vantrel-scene/1", "output": "random", "nodes": [
        { "id": "lattice", "type": "Hexagonal lattice 3D(1)",
          "params": { "Position": { "link": "@position" }, "Subdivision": )~" +
           std::to_string(subdivision) + R"~( },
          "curves": { "W1": [[0, 1]], "W2": [[0.5, 0]], "W3": [[0.6, 0]] } },
        { "id": "random", "type": "Random", "params": { "Vector": { "link": "lattice" }, "Seed": 11 } } ] })~";
}

/// `count` directions spread evenly over the sphere (a Fibonacci spiral), of lengths that vary.
std::vector<Vec3d> Directions(int count) {
    const double lengths[] = {1, 0.37, 2.9, 1e-3, 1e3};
    const double turn = 3.0 - std::sqrt(5.0);  // the golden angle, in half turns
    std::vector<Vec3d> directions;
    for (int i = 0; i < count; ++i) {
        const double z = 1 - (2 * i + 1.0) / count;
        const double r = std::sqrt(1 - z * z);
        const double angle = std::numbers::pi * turn * i;
        const double length = lengths[i % 5];
        directions.emplace_back(r * std::cos(angle) * length, r * std::sin(angle) * length, z * length);
    }
    return directions;
}

/// What the samples of one cell gave: the random values, and the bit patterns of the centre.
struct Cell {
    Vec3d centre;
    std::set<double> values;
    std::set<std::array<std::uint64_t, 3>> patterns;  ///< -0 counted as 0
};

std::array<std::uint64_t, 3> Bits(const Vec3d& v) {
    std::array<std::uint64_t, 3> bits;
    const double components[] = {v.x + 0.0, v.y + 0.0, v.z + 0.0};
    std::memcpy(bits.data(), components, sizeof components);
    return bits;
}

/// The cells sampled, each found by its centre: centres of one cell lie within 1e-9 of each other,
/// those of two cells at least 1 / (2 Subdivision) apart.
class Cells {
public:
    Cell& At(const Vec3d& centre) {
        const auto box = [](double x, int offset) {
            return static_cast<long>(std::floor(x * 1000)) + offset;
        };
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dz = -1; dz <= 1; ++dz) {
                    const auto found = byBox.find({box(centre.x, dx), box(centre.y, dy), box(centre.z, dz)});
                    if (found == byBox.end()) continue;
                    for (std::size_t index : found->second) {
                        const Vec3d d = cells[index].centre - centre;
                        if (d.Length() < 1e-9) return cells[index];
                    }
                }
            }
        }
        byBox[{box(centre.x, 0), box(centre.y, 0), box(centre.z, 0)}].push_back(cells.size());
        cells.push_back({centre, {}, {}});
        return cells.back();
    }
    const std::vector<Cell>& All() const { return cells; }

private:
    std::vector<Cell> cells;
    std::map<std::array<long, 3>, std::vector<std::size_t>> byBox;
};

TEST(RandomCells, EveryCellOfTheSphereLatticeGetsOneValueEverywhere) {
    for (const int subdivision : {1, 2, 3, 4, 10, 25}) {
        SCOPED_TRACE("Subdivision " + std::to_string(subdivision));
        const vantrel::Scene scene = SceneFromText(CellScene(subdivision), "cells.json");
        Function& lattice = *scene.Node("lattice");
        const int cellCount = 10 * subdivision * subdivision + 2;
        Cells cells;
        for (const Vec3d& direction : Directions(100 * cellCount)) {
            FunContext context{direction};
            Vec3d centre;
            double value = 0;
            lattice.Eval(&centre, &context);
            scene.Output().Eval(&value, &context);
            Cell& cell = cells.At(centre);
            cell.values.insert(value);
            cell.patterns.insert(Bits(centre));
        }
        ASSERT_EQ(cells.All().size(), static_cast<std::size_t>(cellCount)) << "every cell sampled";
        std::set<double> values;
        int cellsOfManyPatterns = 0;
        for (const Cell& cell : cells.All()) {
            EXPECT_EQ(cell.values.size(), 1u)
                << "the cell at (" << cell.centre.x << ", " << cell.centre.y << ", " << cell.centre.z << ")";
            values.insert(cell.values.begin(), cell.values.end());
            cellsOfManyPatterns += cell.patterns.size() > 1;
        }
        EXPECT_EQ(values.size(), static_cast<std::size_t>(cellCount)) << "each cell a value of its own";
        // What makes this a test: a hash of the centre's bits would give these cells several values.
        if (subdivision == 4) {
            EXPECT_GT(cellsOfManyPatterns, 0);
        }
        std::printf("Subdivision %d: %d cells, %d of them with centres of more than one bit pattern\n",
                    subdivision, cellCount, cellsOfManyPatterns);
    }
}

}  // namespace
