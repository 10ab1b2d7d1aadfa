#pragma once
// Test helpers: evaluate a node in one output type, and compare values component by component.

#include <string>
#include <vector>

#include "host/components.h"
#include "host/function.h"
#include "host/values.h"

namespace vantrel::test {

/// The components of a value in storage order, as a vector that tests compare and print whole.
template <class T>
std::vector<double> Components(const T& value) {
    const auto components = host::ComponentsOf(value);
    return {components.begin(), components.end()};
}

/// A value of T filled with garbage, so that a component an evaluation leaves unwritten shows.
template <class T>
T Garbage() {
    constexpr double g = -12345.0;
    if constexpr (std::is_same_v<T, std::string>) {
        return "garbage";
    } else if constexpr (std::is_arithmetic_v<T>) {
        return static_cast<T>(g);
    } else if constexpr (requires { T(g, g, g, g); }) {
        return T(g, g, g, g);
    } else if constexpr (requires { T(g, g, g); }) {
        return T(g, g, g);
    } else {
        return T(g, g);
    }
}

/// The node's value as T for a sample at `position`.
template <class T>
T Evaluate(Function& node, Vec3d position = {}) {
    T out = Garbage<T>();
    FunContext context{position};
    node.Eval(&out, &context);
    return out;
}

}  // namespace vantrel::test
