#include "generators/leapfrog_fractal.h"

#include <array>
#include <cmath>

#include "generators/vector_math.h"

namespace {

namespace param {

// The three directions, the stopping radius and the most rounds.
constexpr ParamRow<> a{.name = "A", .type = PTYPE::Vec3d, .value = {1, 0, 0}, .flag = ParamFlag::Value};
constexpr ParamRow<> b{.name = "B", .type = PTYPE::Vec3d, .value = {0, 1, 0}, .flag = ParamFlag::Value};
constexpr ParamRow<> c{.name = "C", .type = PTYPE::Vec3d, .value = {0, 0, 1}, .flag = ParamFlag::Value};
constexpr ParamRow<> radius{
    .name = "Radius", .type = PTYPE::Double, .value = {0.1}, .flag = ParamFlag::Value};
constexpr ParamRow<> iterations{
    .name = "Iterations", .type = PTYPE::Int, .value = {100}, .flag = ParamFlag::Value};

}  // namespace param

constexpr const ParamRow<>* leapFrogParams[] = {&param::a, &param::b, &param::c, &param::radius,
                                                &param::iterations};

/// The vector scaled by the reciprocal of its length.
Vec3d UnitVector(Vec3d v) {
    v *= 1.0 / v.Length();
    return v;
}

/// The mirror image of `x` in the plane through the origin perpendicular to `n`, where f = |n|^2.
Vec3d Mirror(const Vec3d& x, const Vec3d& n, double f) {
    const double s = Dot(x, n) * (2.0 / f);
    return x - n * s;
}

}  // namespace

double LeapFrogValue(Vec3d a, Vec3d b, Vec3d c, double radius, int iterations) {
    // No round runs, so no squared length is ever tested: answer 0 rather than an undefined value.
    if (iterations < 1) return 0.0;

    std::array<Vec3d, 3> unit = {UnitVector(a), UnitVector(b), UnitVector(c)};
    const double r2 = radius * radius;
    double f = 0.0;  // the squared length tested last
    for (int i = 0; i < iterations; ++i) {
        // Every vector is mirrored in the plane perpendicular to the sum of the other two; all three
        // mirrors read the vectors of the previous round.
        const std::array<Vec3d, 3> sums = {unit[1] + unit[2], unit[0] + unit[2], unit[0] + unit[1]};
        std::array<Vec3d, 3> next;
        for (int k = 0; k < 3; ++k) {
            f = Dot(sums[k], sums[k]);
            if (f < r2) return f / r2;
            next[k] = Mirror(unit[k], sums[k], f);
        }
        for (Vec3d& v : next) {
            f = Dot(v, v);
            if (f < r2) return f / r2;
            v *= 1.0 / std::sqrt(f);
        }
        // Scaling by a rounded reciprocal square root leaves the length a little off 1, and the error
        // would grow from round to round.
        for (Vec3d& v : next)
            v.Normalize();
        unit = next;
    }
    return f / r2;
}

constexpr NodeTable<> FLeapFrogFractal::table{.params = leapFrogParams};

FLeapFrogFractal::FLeapFrogFractal() = default;

void FLeapFrogFractal::Compute(double* out, FunContext* context) {
    const Vec3d a = ParamAt<param::a>().GetVec3d(context);
    const Vec3d b = ParamAt<param::b>().GetVec3d(context);
    const Vec3d c = ParamAt<param::c>().GetVec3d(context);
    const double radius = ParamAt<param::radius>().GetDouble(context);
    const int iterations = ParamAt<param::iterations>().GetInt(context);
    *out = LeapFrogValue(a, b, c, radius, iterations);
}
