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

void FRemap::Compute(double* out, FunContext* context) {
    const RemapRanges ranges{At(fromMin).GetDouble(context), At(fromMax).GetDouble(context),
                             At(toMin).GetDouble(context), At(toMax).GetDouble(context)};
    const auto curve = static_cast<RemapCurve>(EntryAt(remapCurve, context));
    *out = Remap(At(remapValue).GetDouble(context), ranges, curve, At(remapClamp).GetInt(context) != 0);
}

void FMath::Compute(double* out, FunContext* context) {
    const auto operation = static_cast<MathOperation>(EntryAt(mathOperation, context));
    *out = Calculate(operation, At(mathA).GetDouble(context), At(mathB).GetDouble(context));
}

void FCombine::Compute(Vec3d* out, FunContext* context) {
    *out = Vec3d(At(0).GetDouble(context), At(1).GetDouble(context), At(2).GetDouble(context));
}

void FPick::Compute(double* out, FunContext* context) {
    const Vec4d v = At(pickVector).GetVec4d(context);
    const double components[] = {v.x, v.y, v.z, v.w};
    *out = components[EntryAt(pickComponent, context)];
}

}  // namespace quibnodes
