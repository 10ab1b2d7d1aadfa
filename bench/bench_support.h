#pragma once
// What the benchmarks share: the modules loaded through their exports, their nodes with their sample
// position linked, and arrays of sample points to evaluate them at.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "host/function.h"
#include "host/param.h"
#include "scene/module_set.h"

namespace vantrel::bench {

/// The built modules, the product's and the host's node library, loaded once through their three
/// exports as a host loads them.
const ModuleSet& LoadedModule();

/// A new node of the modules' type `typeName`, its parameter `linked` (when given) linked to the sample
/// position, brought up to date.
std::unique_ptr<Function> MakeNode(const std::string& typeName, const char* linked);

/// The parameter `paramName` of `node`; the benchmark stops with an error when there is none.
Param& ParamOf(const Function& node, const std::string& paramName);

/// The least that reaching a node through a virtual call can cost: a body that composes W Distortion's
/// four numbers from the position and a constant, with no parameter read, called through a base the
/// caller cannot see past. It bounds what any host path can reach against the direct loop.
class Composer {
public:
    virtual ~Composer() = default;
    virtual void Compose(Vec4d* out, const FunContext* context) const = 0;
};
std::unique_ptr<Composer> MakeWComposer(double distortion);

/// Starts `argv` with standard output written to the file `out` (or discarded, when empty) and standard
/// error discarded; its process id. Throws when it cannot be started.
int Spawn(const std::vector<std::string>& argv, const std::string& out = "");

/// Where the sample points lie, and in which order they are visited.
enum class Domain { Plane, Sphere };
enum class Order { Raster, Random };

/// 2^18 sample points, as many as a 512 x 512 image has: a raster over the plane rectangle 0..64 x 0..64
/// (eight samples per lattice step), or over the unit sphere as an equirectangular map, in row order or
/// shuffled. Row order is how a renderer visits them; random order defeats the branch predictor, as
/// positions that come out of other nodes can.
const std::vector<FunContext>& Samples(Domain domain, Order order);

/// Calls `eval(context, out)` once per benchmark iteration, on the samples in turn, and reports one
/// item per sample. `out` lives across iterations, as a host's row buffer would.
template <class T, class Eval>
void RunSamples(benchmark::State& state, const std::vector<FunContext>& samples, Eval eval) {
    const std::size_t mask = samples.size() - 1;  // a power of two
    std::size_t i = 0;
    T out{};
    for (auto _ : state) {
        FunContext context = samples[i];
        eval(&context, &out);
        benchmark::DoNotOptimize(out);
        i = (i + 1) & mask;
    }
    state.SetItemsProcessed(state.iterations());
}

/// Registers `run(state, order)` once for each sample order, as "name/raster" and "name/random".
template <class Run>
void RegisterBothOrders(const std::string& name, Run run) {
    benchmark::RegisterBenchmark((name + "/raster").c_str(),
                                 [run](benchmark::State& state) { run(state, Order::Raster); });
    benchmark::RegisterBenchmark((name + "/random").c_str(),
                                 [run](benchmark::State& state) { run(state, Order::Random); });
}

}  // namespace vantrel::bench
