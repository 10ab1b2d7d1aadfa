#pragma once
// What the fuzz targets share: the module, loaded once through its exports, evaluation of a node in
// every output type as bytes, and a way to report a broken promise as a crash the fuzzer records.

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>

#include "host/function.h"
#include "host/param.h"
#include "quib/module_loader.h"
#include "scene/module_set.h"

namespace vantrel::fuzz {

/// The product's module at VANTREL_MODULE_PATH, loaded at first use and kept for the run.
inline const std::shared_ptr<const quib::Module>& TheModule() {
    static const auto module = std::make_shared<const quib::Module>(VANTREL_MODULE_PATH);
    return module;
}

/// The product's module and the host's node library at QUIB_NODES_PATH, as vantrel loads them.
inline const std::shared_ptr<const ModuleSet>& TheModules() {
    static const std::shared_ptr<const ModuleSet> modules = std::make_shared<const ModuleSet>(
        std::vector<ModuleSet::Member>{TheModule(), std::make_shared<const quib::Module>(QUIB_NODES_PATH)});
    return modules;
}

/// Stops the run: the fuzzer saves the input that got here.
[[noreturn]] inline void Broken(const std::string& promise) {
    std::fprintf(stderr, "broken promise: %s\n", promise.c_str());
    std::abort();
}

/// The most leapfrog rounds an evaluation may run here (the default count). Its cost grows with "Iterations"
/// by design, up to 2^31 - 1 rounds (a minute) a sample; a fuzzer that waited for that would find nothing
/// else.
inline constexpr int maxIterations = 100;

/// Makes a parameter "Iterations" a constant of at most maxIterations, if the node has one.
inline void BoundIterations(Function& node) {
    Param* iterations = node.FindParam("Iterations");
    if (iterations &&
        (iterations->Kind() != Param::Source::Constant || iterations->Constant()[0] > maxIterations))
        iterations->SetConstant({maxIterations});
}

/// Sample positions: ordinary ones, the origin, and some no renderer would ask for.
inline constexpr double nan = std::numeric_limits<double>::quiet_NaN();
inline const Vec3d samplePositions[] = {
    {0.0, 0.0, 0.0}, {0.3, -0.4, 0.8}, {1.0, 0.0, 0.0},
    {2.5, 1.5, 0.0}, {nan, 0.0, 1.0},  {1e308, -1e308, 5.0},
};

template <class T>
void AppendEval(Function& node, FunContext& context, std::string& bytes) {
    T out{};
    node.Eval(&out, &context);
    if constexpr (std::is_same_v<T, std::string>) {
        bytes += out;
    } else {
        bytes.append(reinterpret_cast<const char*>(&out), sizeof out);
    }
}

/// The node's value at `position` in all nine output types, as bytes (not-a-number compares by bits).
inline std::string EvalEveryType(Function& node, const Vec3d& position) {
    FunContext context{position};
    std::string bytes;
    AppendEval<std::string>(node, context, bytes);
    AppendEval<ColorA>(node, context, bytes);
    AppendEval<Color>(node, context, bytes);
    AppendEval<Quaternion>(node, context, bytes);
    AppendEval<Vec4d>(node, context, bytes);
    AppendEval<Vec3d>(node, context, bytes);
    AppendEval<Vec2d>(node, context, bytes);
    AppendEval<double>(node, context, bytes);
    AppendEval<int>(node, context, bytes);
    return bytes;
}

/// EvalEveryType at every sample position.
inline std::string EvalEverywhere(Function& node) {
    std::string bytes;
    for (const Vec3d& position : samplePositions)
        bytes += EvalEveryType(node, position);
    return bytes;
}

}  // namespace vantrel::fuzz
