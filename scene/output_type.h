#pragma once
/// @file
/// The nine output types a node answers, as the command line names them.

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "host/values.h"

namespace vantrel {

/// The output types in the host's order.
enum class OutputType { String, ColorA, Color, Quaternion, Vec4, Vec3, Vec2, Double, Int };

/// The command line's name of each type, in the host's order.
inline constexpr std::pair<std::string_view, OutputType> outputTypeNames[] = {
    {"string", OutputType::String}, {"colora", OutputType::ColorA},
    {"color", OutputType::Color},   {"quaternion", OutputType::Quaternion},
    {"vec4", OutputType::Vec4},     {"vec3", OutputType::Vec3},
    {"vec2", OutputType::Vec2},     {"double", OutputType::Double},
    {"int", OutputType::Int}};

/// The type the command line names `name`, or nothing.
inline std::optional<OutputType> OutputTypeNamed(std::string_view name) {
    for (const auto& [each, type] : outputTypeNames) {
        if (each == name) return type;
    }
    return std::nullopt;
}

/// The command line's name of `type`.
inline std::string_view OutputTypeName(OutputType type) {
    for (const auto& [name, each] : outputTypeNames) {
        if (each == type) return name;
    }
    return {};
}

/// The names of the types, separated by `separator`.
inline std::string OutputTypeNames(std::string_view separator) {
    std::string names;
    for (const auto& [name, type] : outputTypeNames) {
        if (!names.empty()) names += separator;
        names += name;
    }
    return names;
}

/// Calls `visit(std::type_identity<T>())` with T the value type of `type` (std::string, ColorA, Color,
/// Quaternion, Vec4d, Vec3d, Vec2d, double or int), so that a loop over samples is compiled once per type
/// and chooses no type inside.
template <class Visitor>
decltype(auto) VisitOutputType(OutputType type, Visitor&& visit) {
    switch (type) {
        case OutputType::String:
            return visit(std::type_identity<std::string>());
        case OutputType::ColorA:
            return visit(std::type_identity<ColorA>());
        case OutputType::Color:
            return visit(std::type_identity<Color>());
        case OutputType::Quaternion:
            return visit(std::type_identity<Quaternion>());
        case OutputType::Vec4:
            return visit(std::type_identity<Vec4d>());
        case OutputType::Vec3:
            return visit(std::type_identity<Vec3d>());
        case OutputType::Vec2:
            return visit(std::type_identity<Vec2d>());
        case OutputType::Double:
            return visit(std::type_identity<double>());
        case OutputType::Int:
            break;
    }
    return visit(std::type_identity<int>());
}

}  // namespace vantrel
