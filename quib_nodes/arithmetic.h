#pragma once
/// @file
/// The arithmetic of the host's remap, math and mix nodes: pure functions of their arguments, IEEE
/// double arithmetic written out in the order it rounds, with no call into the C library (floor and the
/// absolute value are the processor's instructions).

#include "host/values.h"

namespace quibnodes {

/// The value the fraction t of the way from a to b: exactly a at t = 0 and exactly b at t = 1 (for
/// finite ends), on the line through them beyond (so an infinite t gives an infinity), not-a-number for
/// a t that is one. Ends of any finite size: their difference is taken in halves.
double Lerp(double a, double b, double t);

/// t held within 0 .. 1; not-a-number stays not-a-number.
double Clamp01(double t);

/// How remap turns its t (0 at "From min", 1 at "From max") into the fraction of the way to "To max".
enum class RemapCurve : int {
    Linear = 0,      ///< t itself
    SmoothStep = 1,  ///< 3t^2 - 2t^3 of t held within 0 .. 1: flat at both ends
    Step = 2,        ///< 0 below the middle of the From range, 1 from it on
};

/// The ends of remap's two ranges.
struct RemapRanges {
    double fromMin, fromMax, toMin, toMax;
};

/// `v` moved from the From range to the To range along `curve`; with `clamp`, held within the To range.
/// A From range of no width gives t = -infinity below it, +infinity above it and not-a-number at it.
double Remap(double v, const RemapRanges& ranges, RemapCurve curve, bool clamp);

/// The operations of the math node, in the order its list box gives them.
enum class MathOperation : int {
    Add = 0,
    Subtract = 1,
    Multiply = 2,
    Divide = 3,
    Minimum = 4,  ///< not-a-number if either is; -0 below +0
    Maximum = 5,  ///< likewise, +0 above -0
    Power = 6,    ///< a to the power of b truncated toward zero, by repeated squaring
    Absolute = 7,
    Floor = 8,
    Fraction = 9,  ///< a - floor(a)
    Modulo = 10,   ///< a - b floor(a / b): the sign of b, as the pattern repeats across 0
};
inline constexpr int lastMathOperation = static_cast<int>(MathOperation::Modulo);

/// `operation` on a and b (the unary ones ignore b).
double Calculate(MathOperation operation, double a, double b);

/// a to the power n by repeated squaring of a, and its reciprocal for a negative n: exact wherever
/// every intermediate power is (10^22 is 1e22).
double IntegerPower(double a, int n);

/// The blend modes of the mix node, in the order its list box gives them; a is the base, b the layer.
enum class BlendMode : int {
    Mix = 0,       ///< b
    Add = 1,       ///< a + b
    Multiply = 2,  ///< a b
    Screen = 3,    ///< 1 - (1 - a)(1 - b)
    Overlay = 4,   ///< 2ab where a < 0.5, else 1 - 2(1 - a)(1 - b)
};
inline constexpr int lastBlendMode = static_cast<int>(BlendMode::Overlay);

/// Channel by channel, a moved toward a blended with b by `mode`, the fraction `factor` held within
/// 0 .. 1 of the way.
Color Blend(const Color& a, const Color& b, double factor, BlendMode mode);

}  // namespace quibnodes
