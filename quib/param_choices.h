#pragma once
/// @file
/// The entries of a choice parameter's list box, as the host makes it: from the parameter's name, the
/// only place a module can spell them.

#include <string>
#include <vector>

class Param;

namespace quib {

/// One entry: the value the parameter stores and the label the list shows.
struct Choice {
    int value = 0;
    std::string label;

    bool operator==(const Choice&) const = default;
};

/// The entries of an int parameter whose name begins with a list of them in parentheses, each the value
/// in decimal, "=" and the label, separated by commas: "(2=plane, 3=sphere)(how to make list box]" gives
/// 2 "plane" and 3 "sphere". Blanks around a label and before a value are dropped; what follows the
/// closing parenthesis is the rest of the name. Empty for a parameter of another type, and for a name
/// that does not begin with such a list (a value that is not a whole int, an empty label, no closing
/// parenthesis).
std::vector<Choice> ChoicesOf(const Param& param);

/// The same for a name alone.
std::vector<Choice> ChoicesInName(const std::string& name);

}  // namespace quib
