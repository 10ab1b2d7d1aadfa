#include "shell/node_frame.h"

namespace {

/// Built once when the module is loaded, released when it is unloaded.
const std::string categoryLabel = "Nodes-Vantrel";

/// The double of a colour node: the channel sum times a third written to thirteen places, so that
/// white gives 0.9999999999999001 rather than 1.
constexpr double thirdOfSum = 0.3333333333333;

/// The int of a colour node: the channel sum times just under 255 / 3, so that white gives 254 and mid
/// grey 127.
constexpr double byteThirdOfSum = 84.99999999999915;

/// The channel sum, green and blue first.
double ChannelSum(const Color& c) {
    return (c.green + c.blue) + c.red;
}

}  // namespace

std::string CategoryLabel() {
    return categoryLabel;
}

void Convert(const Color& c, std::string* out) {
    Converter::convert(c, *out);
}
void Convert(const Color& c, ColorA* out) {
    *out = ColorA(c.red, c.green, c.blue, 1.0);
}
void Convert(const Color& c, Quaternion* out) {
    *out = Quaternion(c.red, c.green, c.blue, 0.0);
}
void Convert(const Color& c, Vec4d* out) {
    *out = Vec4d(c.red, c.green, c.blue, 0.0);
}
void Convert(const Color& c, Vec3d* out) {
    *out = Vec3d(c.red, c.green, c.blue);
}
void Convert(const Color& c, Vec2d* out) {
    *out = Vec2d(c.red, c.green);
}
void Convert(const Color& c, double* out) {
    *out = ChannelSum(c) * thirdOfSum;
}
void Convert(const Color& c, int* out) {
    *out = TruncateToInt(ChannelSum(c) * byteThirdOfSum);
}

void Convert(double v, std::string* out) {
    Converter::convert(v, *out);
}
void Convert(double v, ColorA* out) {
    *out = ColorA(v, v, v, 1.0);
}
void Convert(double v, Color* out) {
    *out = Color(v, v, v);
}
void Convert(double v, Quaternion* out) {
    *out = Quaternion(0.0, 0.0, 0.0, v);
}
void Convert(double v, Vec4d* out) {
    *out = Vec4d(v, v, v, v);
}
void Convert(double v, Vec3d* out) {
    *out = Vec3d(v, v, v);
}
void Convert(double v, Vec2d* out) {
    *out = Vec2d(v, v);
}
void Convert(double v, int* out) {
    *out = TruncateToInt(v);
}

void Convert(const Vec3d& v, std::string* out) {
    Converter::convert(v, *out);
}
void Convert(const Vec3d& v, ColorA* out) {
    *out = ColorA(v.x, v.y, v.z, 1.0);
}
void Convert(const Vec3d& v, Color* out) {
    *out = Color(v.x, v.y, v.z);
}
// The fourth component is written too, as every other conversion from three components does, so that
// the result never depends on what the caller left in it.
void Convert(const Vec3d& v, Quaternion* out) {
    *out = Quaternion(v.x, v.y, v.z, 0.0);
}
void Convert(const Vec3d& v, Vec4d* out) {
    *out = Vec4d(v.x, v.y, v.z, 0.0);
}
