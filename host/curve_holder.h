#pragma once
/// @file
/// User-edited response curves.

#include <string>
#include <utility>
#include <vector>

/// A set of response curves, each mapping a real to a real.
///
/// Form 1 holds one grey curve, read with `EvalGrey`; form 3 holds red, green and blue curves, read
/// with `EvalRed`, `EvalGreen` and `EvalBlue` (on a form-1 object every read uses the grey curve). A
/// curve passes through its control points, whose x strictly increase, by monotone cubic interpolation:
/// it never overshoots between two points, and it is constant beyond the end points. A new curve is the
/// straight line from (low, 0) to (high, 1) over the input range, 0 to 1 unless `SetInputRange` says
/// otherwise. Evaluation allocates nothing and is safe from any number of threads at once.
class CurveHolder {
public:
    struct Point {
        double x = 0.0;
        double y = 0.0;
    };

    /// `form` is 1 (grey) or 3 (red, green, blue); any other value is taken as 1.
    CurveHolder(int form, std::string name);
    ~CurveHolder();
    CurveHolder(const CurveHolder&) = delete;
    CurveHolder& operator=(const CurveHolder&) = delete;

    /// Sets the input range and makes every curve the straight line from (low, 0) to (high, 1). Throws
    /// std::invalid_argument, and changes nothing, unless both are finite and low < high.
    void SetInputRange(double low, double high);

    double EvalGrey(double x) const;
    double EvalRed(double x) const;
    double EvalGreen(double x) const;
    double EvalBlue(double x) const;

    int Form() const { return static_cast<int>(curves.size()); }
    const std::string& Name() const { return name; }
    double InputLow() const { return inputLow; }
    double InputHigh() const { return inputHigh; }

    /// The control points of curve `channel` (0 for grey or red, 1 green, 2 blue).
    const std::vector<Point>& Points(int channel) const;
    /// Replaces the control points of curve `channel`. Throws std::invalid_argument, and changes
    /// nothing, unless there is at least one point, every coordinate is finite and x strictly increases.
    void SetPoints(int channel, const std::vector<Point>& points);

private:
    friend class Function;  // Function::Load makes every curve it loads before it puts any in place

    /// One curve: its control points and, per segment between two points, the cubic
    /// y = y0 + u * (c1 + u * (c2 + u * c3)) in the half offset u = x / 2 - x0 / 2, kept between the
    /// segment's end values `low` and `high` (the exact cubic is, its rounded value could step an ulp
    /// past them). Halves cannot overflow where x - x0 can, and scaling by 2 rounds exactly, so the
    /// ordinary curves are the same to the bit. A segment too steep or too wide for finite
    /// coefficients is `straight`: the line from y0 to `y1` over its half width `width`.
    struct Curve {
        struct Segment {
            double x0, y0, c1, c2, c3, low, high, y1, width;
            bool straight;
        };
        std::vector<Point> points;
        std::vector<Segment> segments;
        /// Inline, and defined in curve_holder.cpp (the one file that calls it), so that the public
        /// reads inline it: a call to an exported function, even from inside the library, goes
        /// through the dynamic linker's table.
        inline double Eval(double x) const;
    };
    static Curve MakeCurve(const std::vector<Point>& points);
    /// Puts a curve made from checked points in place of curve `channel`; allocates nothing.
    void Take(int channel, Curve&& curve) noexcept {
        curves[static_cast<std::size_t>(channel)] = std::move(curve);
    }
    /// The curve an `EvalRed`, `EvalGreen` or `EvalBlue` read uses: `channel`, or grey on form 1.
    const Curve& Channel(int channel) const;

    std::string name;
    double inputLow = 0.0;
    double inputHigh = 1.0;
    std::vector<Curve> curves;
};
