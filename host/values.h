#pragma once
/// @file
/// The host's value types: plain structs of 64-bit reals in storage order, with the arithmetic that
/// nodes use. Every operation is written out in the order it rounds, so results do not depend on the
/// compiler (the project is built without floating-point contraction).

#include <climits>
#include <cmath>

/// A point or vector of the plane.
struct Vec2d {
    double x = 0.0;
    double y = 0.0;

    Vec2d() = default;
    Vec2d(double x, double y) : x(x), y(y) {}

    Vec2d operator+(const Vec2d& other) const { return {x + other.x, y + other.y}; }
    Vec2d operator*(double k) const { return {x * k, y * k}; }
};

/// A point or vector of space. A default-constructed vector is (0, 0, 0).
struct Vec3d {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    Vec3d() = default;
    Vec3d(double x, double y, double z) : x(x), y(y), z(z) {}

    Vec3d operator+(const Vec3d& other) const { return {x + other.x, y + other.y, z + other.z}; }
    Vec3d operator-(const Vec3d& other) const { return {x - other.x, y - other.y, z - other.z}; }
    Vec3d operator*(double k) const { return {x * k, y * k, z * k}; }
    Vec3d& operator*=(const double& k) {
        x *= k;
        y *= k;
        z *= k;
        return *this;
    }
    /// The Euclidean length, sqrt((x*x + y*y) + z*z).
    double Length() const { return std::sqrt(x * x + y * y + z * z); }
    /// Scales to unit length by multiplying with the reciprocal of the length. A zero vector becomes
    /// not-a-number, as the arithmetic gives.
    void Normalize() { *this *= 1.0 / Length(); }
};

/// A four-component vector. A default-constructed vector is (0, 0, 0, 0).
struct Vec4d {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double w = 0.0;

    Vec4d() = default;
    Vec4d(double x, double y, double z, double w) : x(x), y(y), z(z), w(w) {}
};

/// A colour of three channels; no range is implied. A default-constructed colour is black.
struct Color {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;

    Color() = default;
    Color(double red, double green, double blue) : red(red), green(green), blue(blue) {}

    Color operator+(const Color& other) const {
        return {red + other.red, green + other.green, blue + other.blue};
    }
    Color operator*(double k) const { return {red * k, green * k, blue * k}; }
};

/// A colour with alpha.
struct ColorA {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double alpha = 0.0;

    ColorA() = default;
    ColorA(double red, double green, double blue, double alpha)
        : red(red), green(green), blue(blue), alpha(alpha) {}
};

/// Four reals, known by their position: x is the first component, w the fourth.
struct Quaternion {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double w = 0.0;

    Quaternion() = default;
    Quaternion(double x, double y, double z, double w) : x(x), y(y), z(z), w(w) {}
};

/// A real as an int: truncation toward zero, saturated to the int range; not-a-number gives 0.
/// (A plain cast of a real outside the int range is undefined behaviour.)
inline int TruncateToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483648.0) return INT_MAX;
    if (v <= -2147483649.0) return INT_MIN;
    return static_cast<int>(v);
}
