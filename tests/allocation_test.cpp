// No evaluation allocates: every node type of both modules, loaded through their exports, in every output
// type but text, one sample at a time and a row at a time, with its parameters constant, linked to the
// sample position, or linked to another node, and with curves and gradients of many points.

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "host/curve_holder.h"
#include "host/function.h"
#include "host/gradient.h"
#include "host/param.h"
#include "quib/module_loader.h"
#include "tests/allocation_counter.h"
#include "tests/loaded_module.h"

namespace {

using vantrel::test::TheModules;

std::unique_ptr<Function> Create(const std::string& typeName) {
    const quib::NodeType* type = TheModules()->Find(typeName);
    return type ? type->Create() : nullptr;
}

/// The lattice node's mode parameter; it stays a constant, so that each mode is evaluated.
constexpr const char* modeParam = "(2=plane, 3=sphere)(how to make list box]";

/// Where a node's parameters take their values from.
enum class Source { Constant, Position, Node };

/// Sample positions: the origin, inside and beyond the curves' and gradients' ranges, both signs.
const std::vector<Vec3d> positions = {
    {0, 0, 0}, {0.3, 0.6, 0.9}, {-0.4, 0.2, -0.7}, {2.5, -1.5, 0.5}, {1e6, -3e5, 7}, {0.5, 0, 0},
};

/// Curves of several segments and gradients of several stops, so that lookups search.
void GiveManyPoints(Function& node) {
    for (CurveHolder* curve : node.Curves()) {
        for (int channel = 0; channel < curve->Form(); ++channel)
            curve->SetPoints(channel, {{-1, 0.2}, {0, 1}, {0.2, 0.4}, {0.5, 0.9}, {0.8, 0.1}, {2, 0.7}});
    }
    for (Gradient* gradient : node.Gradients())
        gradient->SetStops({{-1, {1, 0, 0}}, {0, {0, 1, 0}}, {0.4, {0, 0, 1}}, {1, {1, 1, 1}}});
}

/// Evaluates every output type but text at every position, one `Eval` at a time and one `SIMDEval` a row.
template <class... T>
void EvaluateAll(Function& node) {
    std::vector<FunContext> contexts;
    for (const Vec3d& p : positions)
        contexts.push_back({p});
    const auto evaluate = [&]<class U>(std::vector<U>& row) {
        for (std::size_t i = 0; i < contexts.size(); ++i)
            node.Eval(&row[i], &contexts[i]);
        node.SIMDEval(row.data(), contexts.data(), 0, static_cast<int>(row.size()));
    };
    std::tuple<std::vector<T>...> rows{std::vector<T>(positions.size())...};
    const long before = vantrel::test::AllocationCount();
    (evaluate(std::get<std::vector<T>>(rows)), ...);
    EXPECT_EQ(vantrel::test::AllocationCount() - before, 0);
}

class NoAllocation : public ::testing::TestWithParam<std::tuple<std::string, Source>> {};

TEST_P(NoAllocation, InAnyOutputTypeButText) {
    const auto& [typeName, source] = GetParam();
    const std::unique_ptr<Function> node = Create(typeName);
    ASSERT_NE(node, nullptr) << typeName;
    GiveManyPoints(*node);

    // Another node that answers every type from the sample position.
    const std::unique_ptr<Function> supplier = Create("W Distortion");
    ASSERT_NE(supplier, nullptr);
    for (Param* param : supplier->Params())
        param->LinkToPosition();
    for (Param* param : node->Params()) {
        if (param->Name() == modeParam) continue;
        if (source == Source::Position) param->LinkToPosition();
        if (source == Source::Node) param->LinkTo(supplier.get());
    }

    // Each lattice mode (plane, sphere, and one that writes nothing); one pass for the other nodes.
    const bool lattice = node->FindParam(modeParam) != nullptr;
    for (int mode : lattice ? std::vector<int>{2, 3, 4} : std::vector<int>{0}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        if (lattice) node->FindParam(modeParam)->SetConstant({static_cast<double>(mode)});
        FunContext context{{0.3, 0.6, 0.9}};
        node->Update(0, &context);
        EvaluateAll<ColorA, Color, Quaternion, Vec4d, Vec3d, Vec2d, double, int>(*node);
    }
}

std::string TestName(const ::testing::TestParamInfo<NoAllocation::ParamType>& info) {
    std::string name = std::get<0>(info.param);
    std::erase_if(name, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); });
    const char* sources[] = {"Constant", "Position", "Node"};
    return name + "_" + sources[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(
    EveryNode, NoAllocation,
    ::testing::Combine(::testing::Values("Hexagonal lattice 3D(1)", "Leapfrog fractal", "Vector to color",
                                         "Curve3", "W Distortion", "Remap", "Math", "Random", "Gradient map",
                                         "Mix", "Combine", "Pick"),
                       ::testing::Values(Source::Constant, Source::Position, Source::Node)),
    TestName);

// The counter sees the modules' allocations (their operator new is the program's): creating a node,
// which builds its parameters, is counted, so a count of zero above means what it says.
TEST(NoAllocationCounter, SeesTheModulesAllocations) {
    TheModules();
    for (const char* typeName : {"Curve3", "Gradient map"}) {
        const long before = vantrel::test::AllocationCount();
        const std::unique_ptr<Function> node = Create(typeName);
        ASSERT_NE(node, nullptr);
        EXPECT_GT(vantrel::test::AllocationCount() - before, 0) << typeName;
    }
}

}  // namespace
