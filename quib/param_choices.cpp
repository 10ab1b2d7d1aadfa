// The list box of a choice parameter, read from the parameter's name.

#include "quib/param_choices.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "host/param.h"

namespace quib {
namespace {

constexpr std::string_view blanks = " \t";

/// `text` without blanks at either end.
std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

std::vector<Choice> ChoicesInName(const std::string& name) {
    std::string_view rest = name;
    if (!rest.starts_with('(')) return {};
    rest.remove_prefix(1);
    std::vector<Choice> choices;
    for (;;) {
        rest.remove_prefix(std::min(rest.find_first_not_of(blanks), rest.size()));
        Choice choice;
        const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), choice.value);
        if (error != std::errc() || end == rest.data() + rest.size() || *end != '=') return {};
        rest.remove_prefix(end - rest.data() + 1);
        const std::size_t stop = rest.find_first_of(",)");
        if (stop == std::string_view::npos) return {};
        const std::string_view label = Trimmed(rest.substr(0, stop));
        if (label.empty()) return {};
        choice.label = label;
        choices.push_back(std::move(choice));
        const char separator = rest[stop];
        rest.remove_prefix(stop + 1);
        if (separator == ')') return choices;
    }
}

std::vector<Choice> ChoicesOf(const Param& param) {
    if (param.Type() != PTYPE::Int) return {};
    return ChoicesInName(param.Name());
}

}  // namespace quib
