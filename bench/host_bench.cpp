// The host runtime's parts on their own: parameter reads, curve evaluation, gradient lookup; and the
// cost of the virtual call through which a host reaches a node.

#include <random>
#include <vector>

#include "bench/bench_support.h"
#include "host/curve_holder.h"
#include "host/gradient.h"

namespace vantrel::bench {
namespace {

/// A parameter linked to the sample position, read as Vec3d.
void ParamLinkedToPosition(benchmark::State& state) {
    SParam<Vec3d> param(nullptr, Vec3d());
    param.LinkToPosition();
    RunSamples<Vec3d>(state, Samples(Domain::Sphere, Order::Raster),
                      [&](FunContext* context, Vec3d* out) { *out = param.GetVec3d(context); });
}
BENCHMARK(ParamLinkedToPosition)->Name("HostPart/param-linked-position");

/// A parameter linked to a node (W Distortion, which reads its own position link), read as Vec3d.
void ParamLinkedToNode(benchmark::State& state) {
    const std::unique_ptr<Function> source = MakeNode("W Distortion", "Position");
    SParam<Vec3d> param(nullptr, Vec3d());
    param.LinkTo(source.get());
    RunSamples<Vec3d>(state, Samples(Domain::Sphere, Order::Raster),
                      [&](FunContext* context, Vec3d* out) { *out = param.GetVec3d(context); });
}
BENCHMARK(ParamLinkedToNode)->Name("HostPart/param-linked-node");

/// A constant parameter, read as its own type.
void ParamConstant(benchmark::State& state) {
    SParam<Vec3d> param(nullptr, Vec3d(0.25, 0.5, 0.75));
    RunSamples<Vec3d>(state, Samples(Domain::Sphere, Order::Raster),
                      [&](FunContext* context, Vec3d* out) { *out = param.GetVec3d(context); });
}
BENCHMARK(ParamConstant)->Name("HostPart/param-constant");

/// One virtual call a sample into a body that composes W Distortion's four numbers (bench_support.cpp,
/// out of this file's sight, as a node's body is out of a host's).
void VirtualCall(benchmark::State& state) {
    const std::unique_ptr<Composer> composer = MakeWComposer(0.25);
    RunSamples<Vec4d>(state, Samples(Domain::Sphere, Order::Raster),
                      [&](FunContext* context, Vec4d* out) { composer->Compose(out, context); });
}
BENCHMARK(VirtualCall)->Name("HostPart/virtual-call");

/// 2^16 uniform reals in -0.1 .. 1.1: mostly inside a curve's or gradient's 0 .. 1, some beyond.
const std::vector<double>& Inputs() {
    static const std::vector<double> inputs = [] {
        std::mt19937_64 random(7);
        std::uniform_real_distribution<double> uniform(-0.1, 1.1);
        std::vector<double> values(1 << 16);
        for (double& v : values)
            v = uniform(random);
        return values;
    }();
    return inputs;
}

/// Calls `lookup(x)` once per iteration on the inputs in turn.
template <class Lookup>
void RunInputs(benchmark::State& state, Lookup lookup) {
    const std::vector<double>& inputs = Inputs();
    const std::size_t mask = inputs.size() - 1;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(lookup(inputs[i]));
        i = (i + 1) & mask;
    }
    state.SetItemsProcessed(state.iterations());
}

/// `count` points over 0 .. 1 on a rising, wavy curve: x evenly spaced, y with varied slopes.
std::vector<CurveHolder::Point> WavyPoints(int count) {
    std::vector<CurveHolder::Point> points;
    for (int k = 0; k < count; ++k) {
        const double x = static_cast<double>(k) / (count - 1);
        points.push_back({x, x + 0.05 * (k % 3)});
    }
    return points;
}

void CurveEval(benchmark::State& state) {
    CurveHolder curve(1, "bench");
    curve.SetPoints(0, WavyPoints(static_cast<int>(state.range(0))));
    RunInputs(state, [&](double x) { return curve.EvalGrey(x); });
}
BENCHMARK(CurveEval)->Name("HostPart/curve")->Arg(2)->Arg(16);

void GradientLookup(benchmark::State& state) {
    Gradient gradient("bench");
    std::vector<Gradient::Stop> stops;
    const int count = static_cast<int>(state.range(0));
    for (int k = 0; k < count; ++k) {
        const double t = static_cast<double>(k) / (count - 1);
        stops.push_back({t, Color(t, 1 - t, 0.5 * (k % 2))});
    }
    gradient.SetStops(stops);
    RunInputs(state, [&](double x) {
        Color colour;
        gradient.GetColour(x, colour);
        return colour;
    });
}
BENCHMARK(GradientLookup)->Name("HostPart/gradient")->Arg(2)->Arg(16);

}  // namespace
}  // namespace vantrel::bench
