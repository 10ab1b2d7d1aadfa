// The hexagonal lattice kernel alone, without the host runtime or curves: the sorted triangle and the
// sorted distances around plane points and sphere directions, in raster and in random order.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "generators/hex_lattice_geometry.h"

namespace {

using namespace hexlattice;

/// 2^18 points, as many as a 512 x 512 image has: a raster over the plane rectangle 0..64 x 0..64
/// (eight samples per lattice step), or the unit sphere as an equirectangular map, in row order or
/// shuffled, as in the benchmarks through the host.
constexpr int side = 512;

std::vector<Vec3d> Points(bool sphere, bool shuffled) {
    std::vector<Vec3d> points;
    points.reserve(side * side);
    for (int row = 0; row < side; ++row) {
        for (int column = 0; column < side; ++column) {
            const double u = (column + 0.5) / side, v = (row + 0.5) / side;
            if (!sphere) {
                points.emplace_back(u * 64, v * 64, 0.0);
                continue;
            }
            const double longitude = (u * 2 - 1) * std::numbers::pi, latitude = (0.5 - v) * std::numbers::pi;
            points.emplace_back(std::cos(latitude) * std::cos(longitude),
                                std::cos(latitude) * std::sin(longitude), std::sin(latitude));
        }
    }
    if (shuffled) std::shuffle(points.begin(), points.end(), std::mt19937_64(1));
    return points;
}

template <class Run>
void Register(const char* name, bool sphere, Run run) {
    for (const bool shuffled : {false, true}) {
        const std::string label = std::string(name) + (shuffled ? "/random" : "/raster");
        benchmark::RegisterBenchmark(label.c_str(), [=](benchmark::State& state) {
            const std::vector<Vec3d> points = Points(sphere, shuffled);
            const std::size_t mask = points.size() - 1;  // a power of two
            std::size_t i = 0;
            for (auto _ : state) {
                run(points[i]);
                i = (i + 1) & mask;
            }
            state.SetItemsProcessed(state.iterations());
        });
    }
}

constexpr double subdivision = 10;

[[maybe_unused]] const bool registered = [] {
    Register("Kernel/plane-distances", false,
             [](const Vec3d& p) { benchmark::DoNotOptimize(PlaneDistances(Vec2d(p.x, p.y))); });
    Register("Kernel/plane-triangle", false,
             [](const Vec3d& p) { benchmark::DoNotOptimize(PlaneTriangle(Vec2d(p.x, p.y))); });
    Register("Kernel/sphere-distances", true,
             [](const Vec3d& p) { benchmark::DoNotOptimize(SphereDistances(p, subdivision)); });
    Register("Kernel/sphere-triangle", true,
             [](const Vec3d& p) { benchmark::DoNotOptimize(SphereTriangle(p, subdivision)); });
    return true;
}();

}  // namespace
