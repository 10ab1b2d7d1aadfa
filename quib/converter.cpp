// Text of values, and the extremes of each parameter type.

#include "host/converter.h"

#include <limits>

#include "quib/text.h"

namespace {

/// "(a, b, c)"
void WriteTriple(double a, double b, double c, std::string& text) {
    text = "(";
    quib::AppendReal(text, a);
    text += ", ";
    quib::AppendReal(text, b);
    text += ", ";
    quib::AppendReal(text, c);
    text += ")";
}

}  // namespace

void Converter::convert(const Color& value, std::string& text) {
    WriteTriple(value.red, value.green, value.blue, text);
}

void Converter::convert(const Vec3d& value, std::string& text) {
    WriteTriple(value.x, value.y, value.z, text);
}

void Converter::convert(double value, std::string& text) {
    text.clear();
    quib::AppendReal(text, value);
}

void ExtremeHelper::GetExtremes(int& lowest, int& highest) {
    lowest = std::numeric_limits<int>::lowest();
    highest = std::numeric_limits<int>::max();
}

void ExtremeHelper::GetExtremes(double& lowest, double& highest) {
    lowest = std::numeric_limits<double>::lowest();
    highest = std::numeric_limits<double>::max();
}

void ExtremeHelper::GetExtremes(Vec3d& lowest, Vec3d& highest) {
    double low, high;
    GetExtremes(low, high);
    lowest = {low, low, low};
    highest = {high, high, high};
}

void ExtremeHelper::GetExtremes(Vec4d& lowest, Vec4d& highest) {
    double low, high;
    GetExtremes(low, high);
    lowest = {low, low, low, low};
    highest = {high, high, high, high};
}

void ExtremeHelper::GetExtremes(Color& lowest, Color& highest) {
    double low, high;
    GetExtremes(low, high);
    lowest = {low, low, low};
    highest = {high, high, high};
}
