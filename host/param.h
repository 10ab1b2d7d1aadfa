#pragma once
/// @file
/// Node parameters: a value the user edits, or a link that makes another node (or the sample position)
/// supply it per sample.

#include <array>
#include <string>

#include "host/components.h"
#include "host/fun_context.h"
#include "host/function.h"
#include "host/values.h"

/// One parameter of a node, owned by the node that created it.
///
/// A parameter holds a constant of its own type, or a link. A linked parameter read as type U asks its
/// source node's `Eval` for U, so the source's own output conversions apply; a parameter linked to the
/// sample position reads the context's position. A constant read as another type follows one rule:
/// leading components are kept, missing ones are 0 (alpha 1), a scalar fills every component, and a
/// real becomes an int by truncation toward zero with saturation (not-a-number gives 0).
///
/// Reads are safe from any number of threads at once; changing the parameter is not.
class Param {
public:
    using Components = host::Components;

    /// Where the value comes from.
    enum class Source { Constant, Position, Node };

    /// A real parameter holding 0, with the extremes of double as its range.
    explicit Param(ParamObj* owner);
    virtual ~Param();
    Param(const Param&) = delete;
    Param& operator=(const Param&) = delete;

    int ParamFlag = 0;   ///< an integer property the host keeps for the node
    int ParamStyle = 0;  ///< how the host shows an integer parameter

    const std::string& Name() const { return name; }
    void SetName(const std::string& newName) { name = newName; }
    ParamObj* Owner() const { return owner; }
    PTYPE Type() const { return type; }
    /// How many components the type has (1 for int and double).
    int ComponentCount() const;

    /// The value for one sample, read as the named type. Inline, because nodes read their parameters
    /// on every sample and a call into the library for each read cost as much as a small node's own
    /// work (bench: HostPart/param-*, Host/w-distortion).
    int GetInt(FunContext* context) const { return Get(constantInt, context); }
    double GetDouble(FunContext* context) const { return Get(constantDouble, context); }
    Vec2d GetVec2d(FunContext* context) const { return Get(constantVec2d, context); }
    Vec3d GetVec3d(FunContext* context) const { return Get(constantVec3d, context); }
    Vec4d GetVec4d(FunContext* context) const { return Get(constantVec4d, context); }
    Color GetColor(FunContext* context) const { return Get(constantColor, context); }

    Source Kind() const { return source; }
    /// The node a `Source::Node` parameter reads, else null.
    Function* LinkedNode() const { return node; }
    /// Makes `sourceNode` supply the value (null drops the link). The caller keeps it alive while the
    /// link stands.
    void LinkTo(Function* sourceNode);
    /// Makes the sample position supply the value.
    void LinkToPosition();

    /// The constant (kept while a link stands, and used again once the parameter holds a constant).
    const Components& Constant() const { return constant; }
    /// Sets the constant and drops any link. Components beyond the type's count are ignored; an int
    /// parameter keeps the truncated value.
    void SetConstant(const Components& value);
    const Components& Minimum() const { return minimum; }
    const Components& Maximum() const { return maximum; }
    /// Whether every component of `value` lies within the range. A bound at the extreme finite real
    /// leaves its side open, so a real with its type's extremes as range takes any value, the
    /// infinities and not-a-number included.
    bool InRange(const Components& value) const;

protected:
    void SetType(PTYPE newType);
    void SetRangeComponents(const Components& low, const Components& high);

private:
    friend class Function;  // Function::Clone copies every setting, the range included

    /// The value of the parameter for one sample, as T; `constantAsT` is the constant converted to T
    /// when it was set. One named result, so that it is built in the caller's return slot and a linked
    /// node's `Eval` writes straight into it (bench: HostPart/param-linked-node).
    template <class T>
    T Get(const T& constantAsT, FunContext* context) const {
        T value{};  // what a linked node that writes nothing gives
        switch (source) {
            case Source::Constant:
                value = constantAsT;
                break;
            case Source::Position:
                host::Convert(host::Of(context->position), 3, &value);
                break;
            case Source::Node:
                node->Eval(&value, context);
                break;
        }
        return value;
    }

    /// Stores the constant, reduced to the type's components, and caches it as every read type.
    void StoreConstant(const Components& value);
    /// Takes every setting of `other` (a parameter of the same type), but not its owner or name.
    void CopyFrom(const Param& other);

    ParamObj* owner;
    std::string name;
    PTYPE type = PTYPE::Double;
    Source source = Source::Constant;
    Function* node = nullptr;
    Components constant{};
    Components minimum{};
    Components maximum{};

    // The constant read as each type, computed whenever it changes so that a constant read is a copy.
    int constantInt = 0;
    double constantDouble = 0.0;
    Vec2d constantVec2d;
    Vec3d constantVec3d;
    Vec4d constantVec4d;
    Color constantColor;
};

/// A parameter of value type T (int, double, Vec3d, Vec4d or Color).
template <class T>
class SParam : public Param {
public:
    /// A parameter holding `value`, with the extremes of T (ExtremeHelper::GetExtremes) as its range.
    SParam(ParamObj* owner, const T& value);

    /// Narrows (or widens) the range to `low` .. `high`.
    void SetRange(const T& low, const T& high);
    /// The constant, as T.
    T Value() const;
    /// Sets the constant and drops any link.
    void SetValue(const T& value);
};

extern template class SParam<int>;
extern template class SParam<double>;
extern template class SParam<Vec3d>;
extern template class SParam<Vec4d>;
extern template class SParam<Color>;
