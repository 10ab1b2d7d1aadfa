// Text of values, and the extremes of each parameter type.

#include "host/converter.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "quib/text.h"

namespace quib {

void AppendReal(std::string& text, double value) {
    if (std::isnan(value)) {
        text += "nan";
    } else if (std::isinf(value)) {
        text += value < 0.0 ? "-inf" : "inf";
    } else {
        // The longest shortest form is 24 characters, "-2.2250738585072014e-308".
        char digits[32];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        text.append(digits, result.ptr);
    }
}

std::string FormatReal(double value) {
    std::string text;
    AppendReal(text, value);
    return text;
}

std::string Excerpt(std::string_view text) {
    if (text.size() <= excerptLength) return std::string(text);
    std::size_t end = excerptLength;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xc0) == 0x80)  // a continuation byte
        --end;
    return std::string(text.substr(0, end)) + "... (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace quib

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
