#pragma once
/// @file
/// A value's components, and the one rule by which the host reads a value as another type: leading components
/// are kept, missing ones are 0 (alpha 1), a scalar fills every component (alpha 1), and a real becomes an
/// int by TruncateToInt. Parameter constants, the sample position and `@position` all follow it.
///
/// Inline, so that a parameter read inlines the rule with its count known, which folds the copies away:
/// a read of the sample position is then a plain copy, where calls into the library and rereading their
/// results made it several times dearer (bench: HostPart/param-linked-position).

#include <algorithm>
#include <array>
#include <utility>

#include "host/values.h"

namespace host {

/// A value's components in storage order, as many as its type has.
inline std::array<double, 1> ComponentsOf(int value) {
    return {static_cast<double>(value)};
}
inline std::array<double, 1> ComponentsOf(double value) {
    return {value};
}
inline std::array<double, 2> ComponentsOf(const Vec2d& value) {
    return {value.x, value.y};
}
inline std::array<double, 3> ComponentsOf(const Vec3d& value) {
    return {value.x, value.y, value.z};
}
inline std::array<double, 4> ComponentsOf(const Vec4d& value) {
    return {value.x, value.y, value.z, value.w};
}
inline std::array<double, 3> ComponentsOf(const Color& value) {
    return {value.red, value.green, value.blue};
}
inline std::array<double, 4> ComponentsOf(const ColorA& value) {
    return {value.red, value.green, value.blue, value.alpha};
}
inline std::array<double, 4> ComponentsOf(const Quaternion& value) {
    return {value.x, value.y, value.z, value.w};
}

/// How many components a value of type T has.
template <class T>
inline constexpr int componentCount = static_cast<int>(decltype(ComponentsOf(std::declval<T>()))().size());

/// A value's components in storage order, as a parameter stores them; unused trailing ones are 0.
using Components = std::array<double, 4>;

/// `value`'s components, padded to four.
template <class T>
Components Of(const T& value) {
    const auto components = ComponentsOf(value);
    Components padded{};
    std::copy(components.begin(), components.end(), padded.begin());
    return padded;
}

/// The first `count` components widened to four: a scalar fills all four, missing ones are 0.
inline Components Widen(const Components& value, int count) {
    if (count == 1) return {value[0], value[0], value[0], value[0]};
    Components wide{};
    for (int i = 0; i < count; ++i)
        wide[i] = value[i];
    return wide;
}

/// Writes the value made of the first `count` (1 to 4) of `value`'s components as the type of `out`.
inline void Convert(const Components& value, int /*count*/, int* out) {
    *out = TruncateToInt(value[0]);
}
inline void Convert(const Components& value, int /*count*/, double* out) {
    *out = value[0];
}
inline void Convert(const Components& value, int count, Vec2d* out) {
    const Components c = Widen(value, count);
    *out = {c[0], c[1]};
}
inline void Convert(const Components& value, int count, Vec3d* out) {
    const Components c = Widen(value, count);
    *out = {c[0], c[1], c[2]};
}
inline void Convert(const Components& value, int count, Vec4d* out) {
    const Components c = Widen(value, count);
    *out = {c[0], c[1], c[2], c[3]};
}
inline void Convert(const Components& value, int count, Color* out) {
    const Components c = Widen(value, count);
    *out = {c[0], c[1], c[2]};
}
inline void Convert(const Components& value, int count, ColorA* out) {
    const Components c = Widen(value, count);
    *out = {c[0], c[1], c[2], count == 4 ? c[3] : 1.0};
}
inline void Convert(const Components& value, int count, Quaternion* out) {
    const Components c = Widen(value, count);
    *out = {c[0], c[1], c[2], c[3]};
}

}  // namespace host
