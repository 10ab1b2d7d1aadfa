// Well-known libraries doing comparable per-sample work, at the same samples as the lattice node:
// libnoise's Perlin noise with one octave for plane work, S2's leaf cell of a unit vector for sphere work.

#include <noise.h>
#include <s2/s2cell_id.h>
#include <s2/s2point.h>

#include "bench/bench_support.h"

namespace vantrel::bench {
namespace {

/// Gradient noise at (x, y, 0), one octave: eight lattice gradients blended per sample.
void Perlin(benchmark::State& state, Order order) {
    noise::module::Perlin perlin;
    perlin.SetOctaveCount(1);
    RunSamples<double>(state, Samples(Domain::Plane, order), [&](FunContext* context, double* out) {
        *out = perlin.GetValue(context->position.x, context->position.y, 0.0);
    });
}

/// The leaf cell (level 30) holding a unit direction: cube face, projection, Hilbert curve position.
void S2Cell(benchmark::State& state, Order order) {
    RunSamples<S2CellId>(state, Samples(Domain::Sphere, order), [](FunContext* context, S2CellId* out) {
        const Vec3d& p = context->position;
        *out = S2CellId(S2Point(p.x, p.y, p.z));
    });
}

[[maybe_unused]] const bool registered = [] {
    RegisterBothOrders("Peer/libnoise-perlin", Perlin);
    RegisterBothOrders("Peer/s2-cell-id", S2Cell);
    return true;
}();

}  // namespace
}  // namespace vantrel::bench
