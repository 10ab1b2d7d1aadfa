// Parameters: links, ranges, and constants converted to every read type when they are set (the reads
// themselves are inline in host/param.h).

#include "host/param.h"

#include <limits>
#include <type_traits>

#include "host/components.h"
#include "host/converter.h"

using host::Components;
using host::Convert;
using host::Of;

Param::Param(ParamObj* owner) : owner(owner) {
    double lowest, highest;
    ExtremeHelper::GetExtremes(lowest, highest);
    SetRangeComponents(Of(lowest), Of(highest));
    StoreConstant({});
}

Param::~Param() = default;

int Param::ComponentCount() const {
    switch (type) {
        case PTYPE::Int:
        case PTYPE::Double:
            return 1;
        case PTYPE::Vec3d:
        case PTYPE::Color:
            return 3;
        case PTYPE::Vec4d:
            return 4;
    }
    return 1;
}

void Param::LinkTo(Function* sourceNode) {
    node = sourceNode;
    source = sourceNode ? Source::Node : Source::Constant;
}

void Param::LinkToPosition() {
    node = nullptr;
    source = Source::Position;
}

void Param::SetConstant(const Components& value) {
    StoreConstant(value);
    node = nullptr;
    source = Source::Constant;
}

bool Param::InRange(const Components& value) const {
    constexpr double lowest = std::numeric_limits<double>::lowest();
    constexpr double highest = std::numeric_limits<double>::max();
    for (int i = 0; i < ComponentCount(); ++i) {
        const bool aboveMinimum = minimum[i] == lowest || minimum[i] <= value[i];
        const bool belowMaximum = maximum[i] == highest || value[i] <= maximum[i];
        if (!(aboveMinimum && belowMaximum)) return false;
    }
    return true;
}

void Param::SetType(PTYPE newType) {
    type = newType;
    StoreConstant(constant);
}

void Param::SetRangeComponents(const Components& low, const Components& high) {
    minimum = low;
    maximum = high;
}

void Param::StoreConstant(const Components& value) {
    const int count = ComponentCount();
    // Built apart, because `value` may be the constant itself (SetConstant(Constant()), SetType).
    Components stored{};
    for (int i = 0; i < count; ++i)
        stored[i] = value[i];
    if (type == PTYPE::Int) stored[0] = TruncateToInt(stored[0]);
    constant = stored;

    Convert(constant, count, &constantInt);
    Convert(constant, count, &constantDouble);
    Convert(constant, count, &constantVec2d);
    Convert(constant, count, &constantVec3d);
    Convert(constant, count, &constantVec4d);
    Convert(constant, count, &constantColor);
}

void Param::CopyFrom(const Param& other) {
    ParamFlag = other.ParamFlag;
    ParamStyle = other.ParamStyle;
    type = other.type;
    minimum = other.minimum;
    maximum = other.maximum;
    StoreConstant(other.constant);
    source = other.source;
    node = other.node;
}

namespace {

template <class T>
constexpr PTYPE TypeOf() {
    if constexpr (std::is_same_v<T, int>) return PTYPE::Int;
    if constexpr (std::is_same_v<T, double>) return PTYPE::Double;
    if constexpr (std::is_same_v<T, Vec3d>) return PTYPE::Vec3d;
    if constexpr (std::is_same_v<T, Vec4d>) return PTYPE::Vec4d;
    if constexpr (std::is_same_v<T, Color>) return PTYPE::Color;
}

}  // namespace

template <class T>
SParam<T>::SParam(ParamObj* owner, const T& value) : Param(owner) {
    SetType(TypeOf<T>());
    T lowest, highest;
    ExtremeHelper::GetExtremes(lowest, highest);
    SetRange(lowest, highest);
    SetValue(value);
}

template <class T>
void SParam<T>::SetRange(const T& low, const T& high) {
    SetRangeComponents(Of(low), Of(high));
}

template <class T>
T SParam<T>::Value() const {
    T value;
    Convert(Constant(), ComponentCount(), &value);
    return value;
}

template <class T>
void SParam<T>::SetValue(const T& value) {
    SetConstant(Of(value));
}

template class SParam<int>;
template class SParam<double>;
template class SParam<Vec3d>;
template class SParam<Vec4d>;
template class SParam<Color>;
