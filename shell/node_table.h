#pragma once
/// @file
/// A node's one declaration of what it hands to the host: its parameters, curve objects and gradients,
/// in creation order. The node frame (shell/node_frame.h) builds them from it, and the node reads its
/// parameters by their rows.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "host/function.h"

/// The values the module gives a parameter's `ParamFlag`, named for the parameters that carry them;
/// what they mean is the host's.
enum class ParamFlag : int {
    Control = 0,  ///< the lattice node's switch and choice of mode
    Value = 1,    ///< every other parameter
};

/// The values the module gives an integer parameter's `ParamStyle`, named likewise.
enum class ParamStyle : int {
    Choice = 0,  ///< a list box, whose entries the parameter's name spells
    Switch = 3,  ///< on (1) or off (0): the lattice node's "Rescale result?"
};

/// The forms of a curve object, the first argument of its constructor.
enum class CurveForm : int {
    Grey = 1,  ///< one curve, read with `EvalGrey`
    Rgb = 3,   ///< red, green and blue curves, read with `EvalRed`, `EvalGreen` and `EvalBlue`
};

/// A value, or a bound of a range, as components in storage order; the parameter's type says how many
/// count (one for int and double).
using RowValue = std::array<double, 4>;

/// One entry of a choice parameter's list box: the value it stores and the label the list shows.
struct Choice {
    int value;
    std::string_view label;
};

/// A node without settings cached in `Update`.
struct NoCache {};

/// One parameter. `Cache` is the struct of settings the node caches in `Update`.
template <class Cache = NoCache>
struct ParamRow {
    struct Range {
        RowValue low, high;
    };

    std::string_view name;  ///< as stored and shown, exactly
    PTYPE type;
    RowValue value;  ///< the default
    ParamFlag flag;
    std::optional<ParamStyle> style = {};  ///< none: the host's own
    std::optional<Range> range = {};       ///< narrower than the type's extremes
    /// A choice parameter's entries. The host learns them from the name alone, which spells them in
    /// this order: "(2=plane, 3=sphere)..." (checked when the node is compiled).
    std::span<const Choice> choices = {};
    /// The field of the node's cache that `Update` reads this int parameter into; null: read per sample.
    int Cache::*cached = nullptr;
};

/// One curve object.
struct CurveRow {
    struct InputRange {
        double low, high;
    };

    std::string_view name;
    CurveForm form;
    std::optional<InputRange> input = {};  ///< none: the host's own
};

/// What a node hands to the host, in creation order: its parameters (each row declared once, and
/// listed here by its address), its curve objects and its gradients' labels.
template <class Cache = NoCache>
struct NodeTable {
    std::span<const ParamRow<Cache>* const> params = {};
    std::span<const CurveRow> curves = {};
    std::span<const std::string_view> gradients = {};

    /// The index of `row` among the parameters; a row the table does not list does not compile.
    consteval std::size_t IndexOf(const ParamRow<Cache>& row) const {
        for (std::size_t i = 0; i < params.size(); ++i) {
            if (params[i] == &row) return i;
        }
        throw "the node's table does not list this parameter";
    }

    /// The cache as a new node holds it: each cached field at its parameter's default.
    constexpr Cache CachedDefaults() const {
        Cache cache{};
        for (const ParamRow<Cache>* row : params) {
            if (row->cached) cache.*(row->cached) = static_cast<int>(row->value[0]);
        }
        return cache;
    }
};

namespace nodetable {

/// Whether `text` starts with `expected`; if so, takes it off.
constexpr bool Consume(std::string_view& text, std::string_view expected) {
    if (!text.starts_with(expected)) return false;
    text.remove_prefix(expected.size());
    return true;
}

/// Whether `text` starts with the decimal digits of `value` (a minus sign first when it is negative);
/// if so, takes them off.
constexpr bool ConsumeDecimal(std::string_view& text, int value) {
    std::array<char, 12> digits{};
    std::size_t first = digits.size();
    long long rest = value < 0 ? -static_cast<long long>(value) : value;
    do {
        digits[--first] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest > 0);
    if (value < 0) digits[--first] = '-';
    return Consume(text, std::string_view(digits.data() + first, digits.size() - first));
}

/// Whether `name` begins with the list the host makes a list box from, spelling exactly `choices` in
/// their order: "(" then "value=label" for each, separated by ", ", then ")". A label must not hold
/// the list's own separators.
constexpr bool SpellsChoices(std::string_view name, std::span<const Choice> choices) {
    if (!Consume(name, "(")) return false;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        const std::string_view label = choices[i].label;
        if (label.empty() || label.find_first_of(",)") != std::string_view::npos) return false;
        if (!Consume(name, i == 0 ? "" : ", ") || !ConsumeDecimal(name, choices[i].value) ||
            !Consume(name, "=") || !Consume(name, label)) {
            return false;
        }
    }
    return Consume(name, ")");
}

/// Whether every choice parameter's name spells its choices, and only int parameters have choices.
template <class Cache>
constexpr bool NamesSpellTheirChoices(const NodeTable<Cache>& table) {
    for (const ParamRow<Cache>* row : table.params) {
        if (row->choices.empty()) continue;
        if (row->type != PTYPE::Int || !SpellsChoices(row->name, row->choices)) return false;
    }
    return true;
}

/// Whether every cached parameter is an int, as its field is, and holds a whole default.
template <class Cache>
constexpr bool CachedAreInts(const NodeTable<Cache>& table) {
    for (const ParamRow<Cache>* row : table.params) {
        if (!row->cached) continue;
        if (row->type != PTYPE::Int || row->value[0] != static_cast<int>(row->value[0])) return false;
    }
    return true;
}

/// Whether every default and every choice lies within its parameter's narrower range.
template <class Cache>
constexpr bool DefaultsAndChoicesInRange(const NodeTable<Cache>& table) {
    for (const ParamRow<Cache>* row : table.params) {
        if (!row->range) continue;
        for (std::size_t c = 0; c < row->value.size(); ++c) {
            if (row->value[c] < row->range->low[c] || row->value[c] > row->range->high[c]) return false;
        }
        for (const Choice& choice : row->choices) {
            if (choice.value < row->range->low[0] || choice.value > row->range->high[0]) return false;
        }
    }
    return true;
}

}  // namespace nodetable
