#pragma once
/// @file
/// The frame every node of the module shares: the identity answers, parameter creation, and the output
/// types derived from the outputs a node computes itself.

#include <cstddef>
#include <string>
#include <type_traits>

#include "host/converter.h"
#include "host/function.h"
#include "host/param.h"

/// Class identifiers are consecutive from this one, in registry order.
inline constexpr unsigned int firstClassId = 0x92512342;

/// The category every node type of the module is filed under.
std::string CategoryLabel();

/// The values the module gives a parameter's `ParamFlag`, named for the parameters that carry them;
/// what they mean is the host's.
enum class ParamFlag : int {
    Control = 0,  ///< the lattice node's switch and choice of mode
    Value = 1,    ///< every other parameter
};

/// The values the module gives an integer parameter's `ParamStyle`, named likewise.
enum class ParamStyle : int {
    Choice = 0,  ///< the lattice node's choice of mode
    Switch = 3,  ///< the lattice node's "Rescale result?"
};

/// The forms of a curve object, the first argument of its constructor.
enum class CurveForm : int {
    Grey = 1,  ///< one curve, read with `EvalGrey`
    Rgb = 3,   ///< red, green and blue curves, read with `EvalRed`, `EvalGreen` and `EvalBlue`
};

// The conversions of a result into another output type, by the type of the result.

/// A colour result (r, g, b): (r, g, b, 1), (r, g, b, 0) as quaternion and Vec4d, (r, g, b), (r, g),
/// ((g + b) + r) * 0.3333333333333 as double and ((g + b) + r) * 84.99999999999915 truncated as int, and
/// the converter's text.
void Convert(const Color& c, std::string* out);
void Convert(const Color& c, ColorA* out);
void Convert(const Color& c, Quaternion* out);
void Convert(const Color& c, Vec4d* out);
void Convert(const Color& c, Vec3d* out);
void Convert(const Color& c, Vec2d* out);
void Convert(const Color& c, double* out);
void Convert(const Color& c, int* out);
/// A real result v: (v, v, v, 1), (v, v, v), (0, 0, 0, v) as quaternion, (v, v, v, v), (v, v, v),
/// (v, v), v truncated as int, and the converter's text.
void Convert(double v, std::string* out);
void Convert(double v, ColorA* out);
void Convert(double v, Color* out);
void Convert(double v, Quaternion* out);
void Convert(double v, Vec4d* out);
void Convert(double v, Vec3d* out);
void Convert(double v, Vec2d* out);
void Convert(double v, int* out);
/// A vector result (x, y, z): (x, y, z, 1), (x, y, z) as colour, (x, y, z, 0) as quaternion and Vec4d,
/// and the converter's text.
void Convert(const Vec3d& v, std::string* out);
void Convert(const Vec3d& v, ColorA* out);
void Convert(const Vec3d& v, Color* out);
void Convert(const Vec3d& v, Quaternion* out);
void Convert(const Vec3d& v, Vec4d* out);

/// What a node computes itself (`computes<T>`), and for every other output type T the result it is
/// derived from (`Source<T>`), asked of the node's own `Eval` into a value that starts at zero.
namespace nodekind {

/// A colour result: every other output from the colour.
struct Colour {
    template <class T>
    static constexpr bool computes = std::is_same_v<T, Color>;
    template <class T>
    using Source = Color;
};

/// A real result: every other output from the real.
struct Real {
    template <class T>
    static constexpr bool computes = std::is_same_v<T, double>;
    template <class T>
    using Source = double;
};

/// A vector result with its own double and Vec2d: the int from the double, the others from the vector.
struct Vector {
    template <class T>
    static constexpr bool computes =
        std::is_same_v<T, Vec3d> || std::is_same_v<T, Vec2d> || std::is_same_v<T, double>;
    template <class T>
    using Source = std::conditional_t<std::is_same_v<T, int>, double, Vec3d>;
};

/// Every output composed on its own, except the text, which is that of the node's Vec3d.
struct Composed {
    template <class T>
    static constexpr bool computes = !std::is_same_v<T, std::string>;
    template <class T>
    using Source = Vec3d;
};

}  // namespace nodekind

/// The frame of node class `Node`, whose outputs are those of `Kind` (one of `nodekind`). The node
/// names itself with `classId` and `typeName` (static members) and implements `Compute(T*, FunContext*)`
/// for every type its kind computes; the frame answers the host's nine `Eval`s from them.
template <class Node, class Kind>
class NodeFrame : public Function {
public:
    unsigned int ClassID() override { return Node::classId; }
    int ObjectType() override { return 0; }
    std::string TypeName() override { return Node::typeName; }
    std::string Category() override { return CategoryLabel(); }
    int ParamObjFlag() override { return 1; }
    int ParamObjTest(int a, int /*b*/) override { return a == 1 ? 1 : 0; }
    int ParamObjCode(int /*a*/) override { return 1; }
    int ParamObjMap(int /*a*/, int b) override { return b; }
    int FunctionFlag() override { return 1; }

    void Eval(std::string* out, FunContext* context) override { Answer(out, context); }
    void Eval(ColorA* out, FunContext* context) override { Answer(out, context); }
    void Eval(Color* out, FunContext* context) override { Answer(out, context); }
    void Eval(Quaternion* out, FunContext* context) override { Answer(out, context); }
    void Eval(Vec4d* out, FunContext* context) override { Answer(out, context); }
    void Eval(Vec3d* out, FunContext* context) override { Answer(out, context); }
    void Eval(Vec2d* out, FunContext* context) override { Answer(out, context); }
    void Eval(double* out, FunContext* context) override { Answer(out, context); }
    void Eval(int* out, FunContext* context) override { Answer(out, context); }

protected:
    /// The object name is the node's own type name.
    NodeFrame() { name = TypeName(); }

    /// Sizes the parameter list for the parameters of the scoped enum `Index`, which ends in `count`.
    template <class Index>
    void SizeParams() {
        params.resize(static_cast<std::size_t>(Index::count));
    }

    /// Creates parameter `index` owned by this node, holding `value` with its type's extremes as range,
    /// stores it at its index, then sets its flag and its name, in that order. The list must have been
    /// sized first.
    template <class T, class Index>
    SParam<T>* AddParam(Index index, const T& value, ParamFlag flag, const char* paramName) {
        auto* param = new SParam<T>(this, value);
        params[static_cast<std::size_t>(index)] = param;
        param->ParamFlag = static_cast<int>(flag);
        param->SetName(paramName);
        return param;
    }
    /// The same, then sets its style.
    template <class Index>
    SParam<int>* AddParam(Index index, int value, ParamFlag flag, const char* paramName, ParamStyle style) {
        SParam<int>* param = AddParam(index, value, flag, paramName);
        param->ParamStyle = static_cast<int>(style);
        return param;
    }

    /// Parameter `index` of the scoped enum the node numbers its parameters by.
    template <class Index>
    const Param& ParamAt(Index index) const {
        return *params[static_cast<std::size_t>(index)];
    }

private:
    /// Output T: the node's own computation, or the conversion of its result for this sample.
    template <class T>
    void Answer(T* out, FunContext* context) {
        if constexpr (Kind::template computes<T>) {
            static_cast<Node*>(this)->Compute(out, context);
        } else {
            typename Kind::template Source<T> result{};
            Eval(&result, context);
            Convert(result, out);
        }
    }
};
