#pragma once
/// @file
/// The frame every node of the module shares: identity answers, parameter creation, and the output
/// types derived from one native result (a colour, a real or a vector).

#include <string>

#include "host/converter.h"
#include "host/function.h"
#include "host/param.h"

/// Class identifiers are consecutive from this one, in registry order.
inline constexpr unsigned int firstClassId = 0x92512342;

/// The category every node type of the module is filed under.
std::string CategoryLabel();

/// Identity answers common to the module's nodes, and the construction helpers they share.
class NodeFrame : public Function {
public:
    int ObjectType() override { return 0; }
    std::string Category() override { return CategoryLabel(); }
    int ParamObjFlag() override { return 1; }
    int ParamObjTest(int a, int /*b*/) override { return a == 1 ? 1 : 0; }
    int ParamObjCode(int /*a*/) override { return 1; }
    int ParamObjMap(int /*a*/, int b) override { return b; }
    int FunctionFlag() override { return 1; }

protected:
    /// Creates parameter `index` owned by this node, holding `value` with its type's extremes as range,
    /// stores it at its index, then sets its flag and its name, in that order. The list must have been
    /// sized first.
    template <class T>
    SParam<T>* AddParam(int index, const T& value, int flag, const char* paramName) {
        auto* param = new SParam<T>(this, value);
        params[index] = param;
        param->ParamFlag = flag;
        param->SetName(paramName);
        return param;
    }
};

/// A node whose native result is a colour (r, g, b), computed by `Eval(Color*)` into a colour that
/// starts black. The other eight outputs are derived from it:
/// (r, g, b, 1), (r, g, b, 0) as quaternion and Vec4d, (r, g, b), (r, g), ((g + b) + r) * 0.3333333333333
/// as double and ((g + b) + r) * 84.99999999999915 truncated as int, and the converter's text.
class ColorResultNode : public NodeFrame {
public:
    using NodeFrame::Eval;
    void Eval(std::string* out, FunContext* context) override;
    void Eval(ColorA* out, FunContext* context) override;
    void Eval(Quaternion* out, FunContext* context) override;
    void Eval(Vec4d* out, FunContext* context) override;
    void Eval(Vec3d* out, FunContext* context) override;
    void Eval(Vec2d* out, FunContext* context) override;
    void Eval(double* out, FunContext* context) override;
    void Eval(int* out, FunContext* context) override;

private:
    Color Native(FunContext* context);
};

/// A node whose native result is a real v, computed by `Eval(double*)`. The other outputs:
/// (v, v, v, 1), (v, v, v), (0, 0, 0, v) as quaternion, (v, v, v, v), (v, v, v), (v, v), v truncated
/// as int, and the converter's text.
class RealResultNode : public NodeFrame {
public:
    using NodeFrame::Eval;
    void Eval(std::string* out, FunContext* context) override;
    void Eval(ColorA* out, FunContext* context) override;
    void Eval(Color* out, FunContext* context) override;
    void Eval(Quaternion* out, FunContext* context) override;
    void Eval(Vec4d* out, FunContext* context) override;
    void Eval(Vec3d* out, FunContext* context) override;
    void Eval(Vec2d* out, FunContext* context) override;
    void Eval(int* out, FunContext* context) override;

private:
    double Native(FunContext* context);
};

/// A node whose native result is a vector (x, y, z), computed by `Eval(Vec3d*)` into a vector that
/// starts at zero, with its own `Eval(double*)` and `Eval(Vec2d*)`. The other outputs: (x, y, z, 1),
/// (x, y, z) as colour, (x, y, z, 0) as quaternion and Vec4d, the double result truncated as int
/// (from 0.0 when the double evaluation writes nothing), and the converter's text.
class VectorResultNode : public NodeFrame {
public:
    using NodeFrame::Eval;
    void Eval(std::string* out, FunContext* context) override;
    void Eval(ColorA* out, FunContext* context) override;
    void Eval(Color* out, FunContext* context) override;
    void Eval(Quaternion* out, FunContext* context) override;
    void Eval(Vec4d* out, FunContext* context) override;
    void Eval(int* out, FunContext* context) override;

private:
    Vec3d Native(FunContext* context);
};
