#pragma once
/// @file
/// A node's value as `vantrel eval` prints it, for every command that shows one.

#include <string>
#include <type_traits>

#include "host/components.h"
#include "quib/text.h"

namespace vantrel {

/// A value as its components separated by single blanks: reals as the shortest decimal that reads back
/// to the same double, ints as integers, the string as it is.
template <class T>
std::string ValueText(const T& value) {
    if constexpr (std::is_same_v<T, std::string>) {
        return value;
    } else if constexpr (std::is_same_v<T, int>) {
        return std::to_string(value);
    } else {
        std::string text;
        for (double component : host::ComponentsOf(value)) {
            if (!text.empty()) text += ' ';
            quib::AppendReal(text, component);
        }
        return text;
    }
}

}  // namespace vantrel
