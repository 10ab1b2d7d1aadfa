#pragma once
/// @file
/// The frame of the host's own nodes: their identity answers, their parameters built from a list, and
/// the nine output types answered from what each node computes.

#include <cstddef>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "host/components.h"
#include "host/converter.h"
#include "host/function.h"
#include "host/gradient.h"
#include "host/param.h"
#include "host/plugin.h"

namespace quibnodes {

/// The class ids of the host's node types: this one plus the type's index, a block of their own
/// ("QUN" and an index), far from any module's.
inline constexpr unsigned int firstClassId = 0x51554E00;

/// The category the host files its node types under.
inline constexpr const char* category = "Nodes-Quib";

/// The host's `ParamStyle` of an int parameter: a list box, whose entries the name spells
/// ("(0=linear, 1=smooth step)..."), or a switch, on (1) or off (0).
enum class Style : int { List = 0, Switch = 3 };

/// One parameter as a node declares it: name, type and default (components in storage order). An int
/// parameter with a style takes only the values of its list box (0 to `last`) or 0 and 1.
struct ParamRow {
    std::string_view name;
    PTYPE type;
    Param::Components value = {};
    std::optional<Style> style = {};
    int last = 1;  ///< the last entry of a list box
};

// How a result becomes every other output type: the host's rule for reading a value as another type
// (leading components kept, a real filling every place, a colour's alpha 1), with the exceptions every
// node of the host shares. Text is the converter's.

/// A real v: (v, v, v) as a colour; as a quaternion (0, 0, 0, v), the fourth place being the real one.
template <class T>
void Convert(double v, T* out) {
    if constexpr (std::is_same_v<T, std::string>) {
        Converter::convert(v, *out);
    } else if constexpr (std::is_same_v<T, Quaternion>) {
        *out = Quaternion(0.0, 0.0, 0.0, v);
    } else {
        host::Convert(host::Of(v), 1, out);
    }
}

/// A colour (r, g, b): as a real ((g + b) + r) times 0.3333333333333, as an int the same sum times
/// 84.99999999999915, truncated, so that white gives 0.9999999999999001 and 254.
template <class T>
void Convert(const Color& c, T* out) {
    const double sum = (c.green + c.blue) + c.red;
    if constexpr (std::is_same_v<T, std::string>) {
        Converter::convert(c, *out);
    } else if constexpr (std::is_same_v<T, double>) {
        *out = sum * 0.3333333333333;
    } else if constexpr (std::is_same_v<T, int>) {
        *out = TruncateToInt(sum * 84.99999999999915);
    } else {
        host::Convert(host::Of(c), 3, out);
    }
}

/// A vector (x, y, z): as a real its x, as an int x truncated, (x, y, z, 0) as four components.
template <class T>
void Convert(const Vec3d& v, T* out) {
    if constexpr (std::is_same_v<T, std::string>) {
        Converter::convert(v, *out);
    } else {
        host::Convert(host::Of(v), 3, out);
    }
}

/// Whether every list box's name begins with its entries 0 to `last`, in order, as the host reads them:
/// "(0=linear, 1=smooth step)Interpolation" for `last` 1.
template <class Rows>
consteval bool SpellsItsEntries(const Rows& rows) {
    for (const ParamRow& row : rows) {
        if (row.style != Style::List) continue;
        std::string_view rest = row.name;
        for (int entry = 0; entry <= row.last; ++entry) {
            const std::string_view opening = entry == 0 ? "(" : ", ";
            if (!rest.starts_with(opening)) return false;
            rest.remove_prefix(opening.size());
            for (int digits = entry >= 10 ? 10 : 1; digits > 0; digits /= 10) {
                if (rest.empty() || rest.front() != '0' + entry / digits % 10) return false;
                rest.remove_prefix(1);
            }
            const std::size_t end = rest.find_first_of(",)");
            if (!rest.starts_with('=') || end < 2 || end == std::string_view::npos) return false;
            rest.remove_prefix(end);
        }
        if (!rest.starts_with(')')) return false;
    }
    return true;
}

/// Which result of a node each output type T is made from: the node computes `From<T>` itself, and T
/// is converted from it when the two differ.
struct RealResult {
    template <class T>
    using From = double;
};
struct ColourResult {
    template <class T>
    using From = Color;
};
struct VectorResult {
    template <class T>
    using From = Vec3d;
};
/// A real for the real and the int, a colour for every other type.
struct RealAndColourResult {
    template <class T>
    using From = std::conditional_t<std::is_same_v<T, double> || std::is_same_v<T, int>, double, Color>;
};

/// The frame of node class `Node`, whose outputs come from the results `Result` names. The node names
/// itself with static members `classId` and `typeName`, lists its parameters in `paramRows` (an array of
/// `ParamRow`), the labels of its gradients, if any, in `gradientLabels`, and implements `Compute(R*,
/// FunContext*)` for each result R. No exception leaves an operation the host calls: one that crossed into a
/// host built by another compiler would end it; an evaluation that fails gives an empty text or zeros.
template <class Node, class Result>
class NodeFrame : public Function {
public:
    unsigned int ClassID() noexcept override { return Node::classId; }
    int ObjectType() noexcept override { return 0; }
    std::string TypeName() noexcept override {
        return Guarded([] { return std::string(Node::typeName); });
    }
    std::string Category() noexcept override {
        return Guarded([] { return std::string(category); });
    }

    void Eval(std::string* out, FunContext* context) noexcept override { Answer(out, context); }
    void Eval(ColorA* out, FunContext* context) noexcept override { Answer(out, context); }
    void Eval(Color* out, FunContext* context) noexcept override { Answer(out, context); }
    void Eval(Quaternion* out, FunContext* context) noexcept override { Answer(out, context); }
    void Eval(Vec4d* out, FunContext* context) noexcept override { Answer(out, context); }
    void Eval(Vec3d* out, FunContext* context) noexcept override { Answer(out, context); }
    void Eval(Vec2d* out, FunContext* context) noexcept override { Answer(out, context); }
    void Eval(double* out, FunContext* context) noexcept override { Answer(out, context); }
    void Eval(int* out, FunContext* context) noexcept override { Answer(out, context); }

protected:
    /// Names the node, then makes its parameters in list order, each stored at its index as soon as it
    /// exists, then its gradients. What the host's constructors throw passes on to the descriptor.
    NodeFrame() {
        static_assert(SpellsItsEntries(Node::paramRows),
                      "a list box's name must spell its entries 0 to `last`: \"(0=a, 1=b)Name\"");
        name = Node::typeName;
        params.resize(std::size(Node::paramRows));
        for (std::size_t i = 0; i < params.size(); ++i)
            params[i] = MakeParam(Node::paramRows[i]);
        if constexpr (requires { Node::gradientLabels; }) {
            gradients.resize(std::size(Node::gradientLabels));
            for (std::size_t i = 0; i < gradients.size(); ++i)
                gradients[i] = new Gradient(std::string(Node::gradientLabels[i]));
        }
    }

    /// Parameter `index` of the list.
    const Param& At(std::size_t index) const { return *params[index]; }

    /// The list box entry parameter `index` holds for this sample, held to 0 .. its last entry: a
    /// linked parameter may give any int.
    int EntryAt(std::size_t index, FunContext* context) const {
        const int entry = params[index]->GetInt(context);
        const int last = Node::paramRows[index].last;
        return entry < 0 ? 0 : (entry > last ? last : entry);
    }

private:
    template <class Make>
    static std::string Guarded(Make make) noexcept {
        try {
            return make();
        } catch (...) {
            return {};
        }
    }

    template <class T>
    SParam<T>* MakeTyped(const ParamRow& row, const T& value) {
        auto* param = new SParam<T>(this, value);
        param->SetName(std::string(row.name));
        return param;
    }

    Param* MakeParam(const ParamRow& row) {
        const Param::Components& v = row.value;
        switch (row.type) {
            case PTYPE::Int: {
                SParam<int>* param = MakeTyped(row, static_cast<int>(v[0]));
                if (row.style) {
                    param->ParamStyle = static_cast<int>(*row.style);
                    param->SetRange(0, row.last);
                }
                return param;
            }
            case PTYPE::Double:
                return MakeTyped(row, v[0]);
            case PTYPE::Vec3d:
                return MakeTyped(row, Vec3d(v[0], v[1], v[2]));
            case PTYPE::Vec4d:
                return MakeTyped(row, Vec4d(v[0], v[1], v[2], v[3]));
            case PTYPE::Color:
                return MakeTyped(row, Color(v[0], v[1], v[2]));
        }
        return nullptr;
    }

    template <class T>
    void Answer(T* out, FunContext* context) noexcept {
        try {
            using From = typename Result::template From<T>;
            if constexpr (std::is_same_v<From, T>) {
                static_cast<Node*>(this)->Compute(out, context);
            } else {
                From result{};
                static_cast<Node*>(this)->Compute(&result, context);
                Convert(result, out);
            }
        } catch (...) {
            if constexpr (std::is_same_v<T, std::string>) {
                out->clear();
            } else {
                *out = T{};
            }
        }
    }
};

/// The descriptor of node class `Node`: holds no data and creates nodes of that class.
template <class Node>
class NodePlug final : public Plugin {
public:
    unsigned int ClassID() noexcept override { return Node::classId; }
    int ObjectType() noexcept override { return 0; }
    /// A new node, or null when its memory could not be had or its constructor failed.
    Plugged* Create() noexcept override {
        try {
            return new (std::nothrow) Node();
        } catch (...) {
            return nullptr;
        }
    }
    std::string TypeName() noexcept override {
        try {
            return std::string(Node::typeName);
        } catch (...) {
            return {};
        }
    }
};

}  // namespace quibnodes
