#pragma once
/// @file
/// The frame every node of the module shares: the identity answers, parameter creation, and the output
/// types derived from the outputs a node computes itself.

#include <cstddef>
#include <string>
#include <type_traits>

#include "host/converter.h"
#include "host/curve_holder.h"
#include "host/function.h"
#include "host/gradient.h"
#include "host/param.h"
#include "shell/node_table.h"

/// Class identifiers are consecutive from this one, in registry order.
inline constexpr unsigned int firstClassId = 0x92512342;

/// The category every node type of the module is filed under.
std::string CategoryLabel();

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
/// names itself with `classId` and `typeName` (static members), declares what it hands to the host in
/// `table` (a static `NodeTable`, defined constexpr before the node's constructor), and implements
/// `Compute(T*, FunContext*)` for every type its kind computes; the frame builds the node's lists from
/// the table and answers the host's nine `Eval`s from the node's computations.
///
/// No exception leaves an operation the host calls. An exception that crosses into a host built by
/// another compiler ends the host's process, and one can come on any sample: a text that cannot be
/// allocated, or a linked parameter whose source node throws. Each operation ends it in the failure
/// the interface already has: an empty text, a zero value, an empty name.
template <class Node, class Kind>
class NodeFrame : public Function {
public:
    unsigned int ClassID() noexcept override { return Node::classId; }
    int ObjectType() noexcept override { return 0; }
    /// The node's own type name; empty when its text could not be allocated.
    std::string TypeName() noexcept override {
        try {
            return Node::typeName;
        } catch (...) {
            return {};
        }
    }
    /// The module's category; empty when its text could not be allocated.
    std::string Category() noexcept override {
        try {
            return CategoryLabel();
        } catch (...) {
            return {};
        }
    }
    int ParamObjFlag() noexcept override { return 1; }
    int ParamObjTest(int a, int /*b*/) noexcept override { return a == 1 ? 1 : 0; }
    int ParamObjCode(int /*a*/) noexcept override { return 1; }
    int ParamObjMap(int /*a*/, int b) noexcept override { return b; }
    int FunctionFlag() noexcept override { return 1; }

    /// The node's value for one sample; an empty text, or zero in every component, when the evaluation
    /// failed.
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
    /// Names the node with its own type name, then builds its parameters, curve objects and gradients
    /// from its table, in table order: each parameter owned by the node, holding its default with its
    /// type's extremes as range, stored at its index as soon as it exists, then given its flag, its
    /// name, its style and its narrower range, in that order; then each curve object, stored, then
    /// given its input range; then each gradient. What the host's constructors throw passes on (the
    /// host base releases what was made); the descriptor's `Create` turns it into a null node.
    NodeFrame() {
        static_assert(nodetable::NamesSpellTheirChoices(Node::table),
                      "a choice parameter's name must spell its table's choices: \"(2=plane, 3=sphere)...\"");
        static_assert(nodetable::CachedAreInts(Node::table), "a cached parameter must be an int");
        static_assert(nodetable::DefaultsAndChoicesInRange(Node::table),
                      "defaults and choices must lie within their parameter's range");
        // The text TypeName answers, but unguarded: a name that cannot be allocated fails the node.
        name = Node::typeName;
        const auto& table = Node::table;
        params.resize(table.params.size());
        for (std::size_t index = 0; index < table.params.size(); ++index)
            AddParam(index, *table.params[index]);
        if (!table.curves.empty()) {
            curves.resize(table.curves.size());
            for (std::size_t index = 0; index < table.curves.size(); ++index) {
                const CurveRow& row = table.curves[index];
                curves[index] = new CurveHolder(static_cast<int>(row.form), std::string(row.name));
                if (row.input) curves[index]->SetInputRange(row.input->low, row.input->high);
            }
        }
        if (!table.gradients.empty()) {
            gradients.resize(table.gradients.size());
            for (std::size_t index = 0; index < table.gradients.size(); ++index)
                gradients[index] = new Gradient(std::string(table.gradients[index]));
        }
    }

    /// The parameter of `row`, one of the rows the node's table lists.
    template <const auto& row>
    const Param& ParamAt() const {
        constexpr std::size_t index = Node::table.IndexOf(row);
        return *params[index];
    }

    /// Reads into `cache`, for `context`, every int parameter the table marks as cached, in table order.
    template <class Cache>
    void ReadCached(Cache& cache, FunContext* context) const {
        const NodeTable<Cache>& table = Node::table;
        for (std::size_t index = 0; index < table.params.size(); ++index) {
            if (const auto field = table.params[index]->cached) cache.*field = params[index]->GetInt(context);
        }
    }

private:
    /// A row's value as the parameter's type T.
    template <class T>
    static T ValueOf(const RowValue& v) {
        if constexpr (std::is_same_v<T, int>) {
            return static_cast<int>(v[0]);
        } else if constexpr (std::is_same_v<T, double>) {
            return v[0];
        } else if constexpr (std::is_same_v<T, Vec4d>) {
            return Vec4d(v[0], v[1], v[2], v[3]);
        } else {
            return T(v[0], v[1], v[2]);  // Vec3d, Color
        }
    }

    /// Parameter `index`, of T, from its row.
    template <class T, class Row>
    void AddTypedParam(std::size_t index, const Row& row) {
        auto* param = new SParam<T>(this, ValueOf<T>(row.value));
        params[index] = param;
        param->ParamFlag = static_cast<int>(row.flag);
        param->SetName(std::string(row.name));
        if (row.style) param->ParamStyle = static_cast<int>(*row.style);
        if (row.range) param->SetRange(ValueOf<T>(row.range->low), ValueOf<T>(row.range->high));
    }
    /// Parameter `index` from its row, as a parameter of the row's type.
    template <class Row>
    void AddParam(std::size_t index, const Row& row) {
        switch (row.type) {
            case PTYPE::Int:
                return AddTypedParam<int>(index, row);
            case PTYPE::Double:
                return AddTypedParam<double>(index, row);
            case PTYPE::Vec3d:
                return AddTypedParam<Vec3d>(index, row);
            case PTYPE::Vec4d:
                return AddTypedParam<Vec4d>(index, row);
            case PTYPE::Color:
                return AddTypedParam<Color>(index, row);
        }
    }

    /// Output T for this sample; on any exception, an empty text or a zero value.
    template <class T>
    void Answer(T* out, FunContext* context) noexcept {
        try {
            Produce(out, context);
        } catch (...) {
            if constexpr (std::is_same_v<T, std::string>) {
                out->clear();
            } else {
                *out = T{};
            }
        }
    }

    /// Output T: the node's own computation, or the conversion of its result, asked into a value that
    /// starts at zero.
    template <class T>
    void Produce(T* out, FunContext* context) {
        if constexpr (Kind::template computes<T>) {
            static_cast<Node*>(this)->Compute(out, context);
        } else {
            typename Kind::template Source<T> result{};
            ComputeForConversion(&result, context);
            Convert(result, out);
        }
    }

    /// The node's computation of T, for an output converted from it. It is asked of the computation
    /// itself, not of the node's virtual `Eval` (which reaches the same code, the node classes being
    /// final), so that a failure on the way is the failure of the output asked for: an empty text, not
    /// the text of a zero result. Kept out of line, so that a computation has two callers, this and its
    /// own `Eval`, and the compiler inlines it into both; called from every conversion, it was inlined
    /// into none (bench: Host/lattice-plane/Vec3d/raster, 5% slower).
    template <class T>
    [[gnu::noinline]] void ComputeForConversion(T* out, FunContext* context) {
        static_cast<Node*>(this)->Compute(out, context);
    }
};
