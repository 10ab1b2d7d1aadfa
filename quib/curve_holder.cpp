// Response curves: monotone cubic interpolation (Fritsch–Carlson) through the control points.

#include "host/curve_holder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

namespace {

/// The straight line from (low, 0) to (high, 1).
std::vector<CurveHolder::Point> Line(double low, double high) {
    return {{low, 0.0}, {high, 1.0}};
}

}  // namespace

CurveHolder::CurveHolder(int form, std::string name) : name(std::move(name)) {
    curves.assign(form == 3 ? 3 : 1, MakeCurve(Line(inputLow, inputHigh)));
}

CurveHolder::~CurveHolder() = default;

void CurveHolder::SetInputRange(double low, double high) {
    if (!(std::isfinite(low) && std::isfinite(high) && low < high)) {
        throw std::invalid_argument("a curve's input range needs finite low < high");
    }
    inputLow = low;
    inputHigh = high;
    std::fill(curves.begin(), curves.end(), MakeCurve(Line(low, high)));
}

// Defined before the reads, which inline it (bench: HostPart/curve).
inline double CurveHolder::Curve::Eval(double x) const {
    if (std::isnan(x)) return x;
    if (x <= points.front().x) return points.front().y;
    if (x >= points.back().x) return points.back().y;
    // The last segment that starts at or before x; there is one, as x lies past the first point. Each
    // step halves the candidates with a conditional move, not a branch, which random inputs would
    // mispredict at every step (bench: HostPart/curve/16).
    const Segment* s = segments.data();
    for (std::size_t n = segments.size(); n > 1;) {
        const std::size_t half = n / 2;
        s = s[half].x0 <= x ? s + half : s;
        n -= half;
    }
    const double u = x / 2 - s->x0 / 2;
    if (s->straight) return std::lerp(s->y0, s->y1, u / s->width);
    return std::clamp(s->y0 + u * (s->c1 + u * (s->c2 + u * s->c3)), s->low, s->high);
}

double CurveHolder::EvalGrey(double x) const {
    return curves[0].Eval(x);
}
double CurveHolder::EvalRed(double x) const {
    return Channel(0).Eval(x);
}
double CurveHolder::EvalGreen(double x) const {
    return Channel(1).Eval(x);
}
double CurveHolder::EvalBlue(double x) const {
    return Channel(2).Eval(x);
}

const CurveHolder::Curve& CurveHolder::Channel(int channel) const {
    return curves[curves.size() == 3 ? channel : 0];
}

const std::vector<CurveHolder::Point>& CurveHolder::Points(int channel) const {
    return curves.at(channel).points;
}

void CurveHolder::SetPoints(int channel, const std::vector<Point>& points) {
    Curve& curve = curves.at(channel);
    if (points.empty()) throw std::invalid_argument("a curve needs at least one point");
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!std::isfinite(points[i].x) || !std::isfinite(points[i].y)) {
            throw std::invalid_argument("a curve's points must be finite");
        }
        if (i > 0 && !(points[i - 1].x < points[i].x)) {
            throw std::invalid_argument("a curve's x must strictly increase");
        }
    }
    curve = MakeCurve(points);
}

CurveHolder::Curve CurveHolder::MakeCurve(const std::vector<Point>& points) {
    Curve curve{points, {}};
    const std::size_t n = points.size();
    if (n < 2) return curve;

    // Half widths, and secant slopes over them (twice the slopes in x): neither overflows for any
    // finite x, though a slope still can for steep y. Halving rounds subnormal x, so a segment one
    // subnormal step wide can come out 0 wide; it holds no x but its start, and the least width keeps
    // it from dividing 0 by 0 there.
    std::vector<double> width(n - 1);
    std::vector<double> secant(n - 1);
    for (std::size_t k = 0; k + 1 < n; ++k) {
        width[k] = std::max(points[k + 1].x / 2 - points[k].x / 2, std::numeric_limits<double>::denorm_min());
        secant[k] = (points[k + 1].y - points[k].y) / width[k];
    }
    // The tangent at a point is the mean of its neighbouring secants, 0 at a local extremum, and the
    // secant itself at an end point.
    std::vector<double> tangent(n);
    tangent.front() = secant.front();
    tangent.back() = secant.back();
    for (std::size_t k = 1; k + 1 < n; ++k) {
        const bool sameSign = secant[k - 1] * secant[k] > 0.0;
        tangent[k] = sameSign ? secant[k - 1] / 2 + secant[k] / 2 : 0.0;
    }

    // Fritsch–Carlson: with a = m0 / d and b = m1 / d, the cubic is monotone when a^2 + b^2 <= 9, so
    // longer tangent pairs are scaled back onto that circle. Scaling a tangent down keeps the
    // neighbouring segment inside its circle too. Beside a flat segment the tangents are 0, and beside
    // one whose slope overflows too, as that segment is drawn straight.
    for (std::size_t k = 0; k + 1 < n; ++k) {
        if (secant[k] == 0.0 || std::isinf(secant[k])) {
            tangent[k] = 0.0;
            tangent[k + 1] = 0.0;
            continue;
        }
        const double a = tangent[k] / secant[k];
        const double b = tangent[k + 1] / secant[k];
        const double radius2 = a * a + b * b;
        if (radius2 > 9.0) {
            const double scale = 3.0 / std::sqrt(radius2);
            tangent[k] = scale * a * secant[k];
            tangent[k + 1] = scale * b * secant[k];
        }
    }

    // Hermite coefficients in u. c2 = (3d - 2m0 - m1) / h and c3 = (m0 + m1 - 2d) / h^2, written as
    // sums of differences so that a straight segment (m0 = m1 = d) gets exactly c2 = c3 = 0.
    for (std::size_t k = 0; k + 1 < n; ++k) {
        const Point& p0 = points[k];
        const Point& p1 = points[k + 1];
        const double h = width[k];
        const double d = secant[k];
        const double m0 = tangent[k];
        const double m1 = tangent[k + 1];
        const double c2 = ((d - m0) + (d - m0) + (d - m1)) / h;
        const double c3 = ((m0 - d) + (m1 - d)) / (h * h);
        const bool straight = !(std::isfinite(m0) && std::isfinite(c2) && std::isfinite(c3));
        curve.segments.push_back(
            {p0.x, p0.y, m0, c2, c3, std::min(p0.y, p1.y), std::max(p0.y, p1.y), p1.y, h, straight});
    }
    return curve;
}
