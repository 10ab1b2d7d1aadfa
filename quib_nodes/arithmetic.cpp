#include "quib_nodes/arithmetic.h"

#include <cmath>

namespace quibnodes {

// Halves, as two ends a whole double's range apart are further apart than a double holds. Halving is
// exact but for subnormal numbers, and so is doubling a product, unless the product overflows, and the
// result with it.

double Lerp(double a, double b, double t) {
    // From the nearer end: each end is reached exactly, as the other's term is then 0.
    const double halfSpan = b / 2 - a / 2;
    return t < 0.5 ? a + halfSpan * t * 2 : b - halfSpan * (1 - t) * 2;
}

double Clamp01(double t) {
    return t < 0 ? 0.0 : (t > 1 ? 1.0 : t);
}

double Remap(double v, const RemapRanges& ranges, RemapCurve curve, bool clamp) {
    const double t = (v / 2 - ranges.fromMin / 2) / (ranges.fromMax / 2 - ranges.fromMin / 2);
    double fraction = t;
    if (curve == RemapCurve::SmoothStep) {
        const double s = Clamp01(t);
        fraction = s * s * (3 - 2 * s);
    } else if (curve == RemapCurve::Step) {
        fraction = t < 0.5 ? 0.0 : (t >= 0.5 ? 1.0 : t);  // not-a-number passes
    }
    return Lerp(ranges.toMin, ranges.toMax, clamp ? Clamp01(fraction) : fraction);
}

namespace {

/// The IEEE 754-2019 minimum: not-a-number if either is, and -0 below +0, whichever comes first.
double Minimum(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return a + b;
    if (a != b) return a < b ? a : b;
    return std::signbit(a) ? a : b;
}

double Maximum(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return a + b;
    if (a != b) return a > b ? a : b;
    return std::signbit(a) ? b : a;
}

}  // namespace

double IntegerPower(double a, int n) {
    // The exponent's magnitude as unsigned: -INT_MIN does not fit an int.
    unsigned long long rest = n < 0 ? 0ULL - static_cast<unsigned long long>(n) : n;
    double power = 1.0;
    double square = a;  // a^(2^k) for the bit k of the exponent in hand
    while (rest != 0) {
        if (rest & 1) power *= square;
        rest >>= 1;
        if (rest != 0) square *= square;
    }
    return n < 0 ? 1.0 / power : power;
}

double Calculate(MathOperation operation, double a, double b) {
    switch (operation) {
        case MathOperation::Add:
            return a + b;
        case MathOperation::Subtract:
            return a - b;
        case MathOperation::Multiply:
            return a * b;
        case MathOperation::Divide:
            return a / b;
        case MathOperation::Minimum:
            return Minimum(a, b);
        case MathOperation::Maximum:
            return Maximum(a, b);
        case MathOperation::Power:
            return IntegerPower(a, TruncateToInt(b));
        case MathOperation::Absolute:
            return std::abs(a);
        case MathOperation::Floor:
            return std::floor(a);
        case MathOperation::Fraction:
            return a - std::floor(a);
        case MathOperation::Modulo:
            return a - b * std::floor(a / b);
    }
    return a;
}

namespace {

double BlendChannel(double a, double b, BlendMode mode) {
    switch (mode) {
        case BlendMode::Mix:
            return b;
        case BlendMode::Add:
            return a + b;
        case BlendMode::Multiply:
            return a * b;
        case BlendMode::Screen:
            return 1 - (1 - a) * (1 - b);
        case BlendMode::Overlay:
            return a < 0.5 ? 2 * a * b : 1 - 2 * (1 - a) * (1 - b);
    }
    return b;
}

}  // namespace

Color Blend(const Color& a, const Color& b, double factor, BlendMode mode) {
    const double f = Clamp01(factor);
    return Color(Lerp(a.red, BlendChannel(a.red, b.red, mode), f),
                 Lerp(a.green, BlendChannel(a.green, b.green, mode), f),
                 Lerp(a.blue, BlendChannel(a.blue, b.blue, mode), f));
}

}  // namespace quibnodes
