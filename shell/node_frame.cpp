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

// A colour result. Every output asks the node's own `Eval(Color*)` once, into a colour that starts black.

Color ColorResultNode::Native(FunContext* context) {
    Color c;
    Eval(&c, context);
    return c;
}

void ColorResultNode::Eval(std::string* out, FunContext* context) {
    Converter::convert(Native(context), *out);
}

void ColorResultNode::Eval(ColorA* out, FunContext* context) {
    const Color c = Native(context);
    *out = ColorA(c.red, c.green, c.blue, 1.0);
}

void ColorResultNode::Eval(Quaternion* out, FunContext* context) {
    const Color c = Native(context);
    *out = Quaternion(c.red, c.green, c.blue, 0.0);
}

void ColorResultNode::Eval(Vec4d* out, FunContext* context) {
    const Color c = Native(context);
    *out = Vec4d(c.red, c.green, c.blue, 0.0);
}

void ColorResultNode::Eval(Vec3d* out, FunContext* context) {
    const Color c = Native(context);
    *out = Vec3d(c.red, c.green, c.blue);
}

void ColorResultNode::Eval(Vec2d* out, FunContext* context) {
    const Color c = Native(context);
    *out = Vec2d(c.red, c.green);
}

void ColorResultNode::Eval(double* out, FunContext* context) {
    *out = ChannelSum(Native(context)) * thirdOfSum;
}

void ColorResultNode::Eval(int* out, FunContext* context) {
    *out = TruncateToInt(ChannelSum(Native(context)) * byteThirdOfSum);
}

// A real result v, from the node's own `Eval(double*)`.

double RealResultNode::Native(FunContext* context) {
    double v = 0.0;
    Eval(&v, context);
    return v;
}

void RealResultNode::Eval(std::string* out, FunContext* context) {
    Converter::convert(Native(context), *out);
}

void RealResultNode::Eval(ColorA* out, FunContext* context) {
    const double v = Native(context);
    *out = ColorA(v, v, v, 1.0);
}

void RealResultNode::Eval(Color* out, FunContext* context) {
    const double v = Native(context);
    *out = Color(v, v, v);
}

void RealResultNode::Eval(Quaternion* out, FunContext* context) {
    *out = Quaternion(0.0, 0.0, 0.0, Native(context));
}

void RealResultNode::Eval(Vec4d* out, FunContext* context) {
    const double v = Native(context);
    *out = Vec4d(v, v, v, v);
}

void RealResultNode::Eval(Vec3d* out, FunContext* context) {
    const double v = Native(context);
    *out = Vec3d(v, v, v);
}

void RealResultNode::Eval(Vec2d* out, FunContext* context) {
    const double v = Native(context);
    *out = Vec2d(v, v);
}

void RealResultNode::Eval(int* out, FunContext* context) {
    *out = TruncateToInt(Native(context));
}

// A vector result, from the node's own `Eval(Vec3d*)` into a vector that starts at zero.

Vec3d VectorResultNode::Native(FunContext* context) {
    Vec3d v;
    Eval(&v, context);
    return v;
}

void VectorResultNode::Eval(std::string* out, FunContext* context) {
    Converter::convert(Native(context), *out);
}

void VectorResultNode::Eval(ColorA* out, FunContext* context) {
    const Vec3d v = Native(context);
    *out = ColorA(v.x, v.y, v.z, 1.0);
}

void VectorResultNode::Eval(Color* out, FunContext* context) {
    const Vec3d v = Native(context);
    *out = Color(v.x, v.y, v.z);
}

// The fourth component is written too, as every other conversion from three components does, so that
// the result never depends on what the caller left in it.
void VectorResultNode::Eval(Quaternion* out, FunContext* context) {
    const Vec3d v = Native(context);
    *out = Quaternion(v.x, v.y, v.z, 0.0);
}

void VectorResultNode::Eval(Vec4d* out, FunContext* context) {
    const Vec3d v = Native(context);
    *out = Vec4d(v.x, v.y, v.z, 0.0);
}

// The int comes from the node's double result, not from the vector. It starts at 0 so that a double
// evaluation that writes nothing gives 0.
void VectorResultNode::Eval(int* out, FunContext* context) {
    double v = 0.0;
    Eval(&v, context);
    *out = TruncateToInt(v);
}
