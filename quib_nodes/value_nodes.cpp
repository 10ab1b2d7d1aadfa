#include "quib_nodes/value_nodes.h"

#include "quib_nodes/arithmetic.h"

namespace quibnodes {
namespace {

// Remap's parameters, in list order.
enum RemapParam : std::size_t { remapValue, fromMin, fromMax, toMin, toMax, remapClamp, remapCurve };
// Math's.
enum MathParam : std::size_t { mathA, mathB, mathOperation };
// Pick's.
enum PickParam : std::size_t { pickVector, pickComponent };

}  // namespace

constexpr std::array<ParamSpec, 7> FRemap::paramSpecs = {{
    {"Value", PTYPE::Double},
    {"From min", PTYPE::Double, {0}},
    {"From max", PTYPE::Double, {1}},
    {"To min", PTYPE::Double, {0}},
    {"To max", PTYPE::Double, {1}},
    {"Clamp", PTYPE::Int, {1}, Style::Switch},
    {"(0=linear, 1=smooth step, 2=step)Interpolation", PTYPE::Int, {0}, Style::List, 2},
}};

void FRemap::Compute(double* out, FunContext* context) {
    const RemapRanges ranges{At(fromMin).GetDouble(context), At(fromMax).GetDouble(context),
                             At(toMin).GetDouble(context), At(toMax).GetDouble(context)};
    const auto curve = static_cast<RemapCurve>(EntryAt(remapCurve, context));
    *out = Remap(At(remapValue).GetDouble(context), ranges, curve, At(remapClamp).GetInt(context) != 0);
}

constexpr std::array<ParamSpec, 3> FMath::paramSpecs = {{
    {"A", PTYPE::Double},
    {"B", PTYPE::Double},
    {"(0=add, 1=subtract, 2=multiply, 3=divide, 4=minimum, 5=maximum, 6=power, 7=absolute, 8=floor, "
     "9=fraction, 10=modulo)Operation",
     PTYPE::Int,
     {0},
     Style::List,
     lastMathOperation},
}};

void FMath::Compute(double* out, FunContext* context) {
    const auto operation = static_cast<MathOperation>(EntryAt(mathOperation, context));
    *out = Calculate(operation, At(mathA).GetDouble(context), At(mathB).GetDouble(context));
}

constexpr std::array<ParamSpec, 3> FCombine::paramSpecs = {{
    {"X", PTYPE::Double},
    {"Y", PTYPE::Double},
    {"Z", PTYPE::Double},
}};

void FCombine::Compute(Vec3d* out, FunContext* context) {
    *out = Vec3d(At(0).GetDouble(context), At(1).GetDouble(context), At(2).GetDouble(context));
}

constexpr std::array<ParamSpec, 2> FPick::paramSpecs = {{
    {"Vector", PTYPE::Vec4d},
    {"(0=x, 1=y, 2=z, 3=w)Component", PTYPE::Int, {0}, Style::List, 3},
}};

void FPick::Compute(double* out, FunContext* context) {
    const Vec4d v = At(pickVector).GetVec4d(context);
    const double components[] = {v.x, v.y, v.z, v.w};
    *out = components[EntryAt(pickComponent, context)];
}

}  // namespace quibnodes
