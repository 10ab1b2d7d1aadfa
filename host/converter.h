#pragma once
/// @file
/// Text forms of values, and the extremes of each parameter type.

#include <string>

#include "host/values.h"

/// Writes the text of a value: each real as the shortest decimal that reads back to the same double
/// (`nan`, `inf`, `-inf` where it is not finite), a colour as "(r, g, b)", a vector as "(x, y, z)".
struct Converter {
    static void convert(const Color& value, std::string& text);
    static void convert(const Vec3d& value, std::string& text);
    static void convert(double value, std::string& text);
};

/// The lowest and the highest finite value of a type, per component.
struct ExtremeHelper {
    static void GetExtremes(int& lowest, int& highest);
    static void GetExtremes(double& lowest, double& highest);
    static void GetExtremes(Vec3d& lowest, Vec3d& highest);
    static void GetExtremes(Vec4d& lowest, Vec4d& highest);
    static void GetExtremes(Color& lowest, Color& highest);
};
