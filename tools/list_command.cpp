// `vantrel list`: what a module offers, read from the nodes its descriptors create.

#include <algorithm>
#include <cerrno>
#include <iomanip>
#include <ostream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "host/curve_holder.h"
#include "host/gradient.h"
#include "host/param.h"
#include "quib/param_choices.h"
#include "quib/text.h"
#include "tools/commands.h"

namespace vantrel {
namespace {

// Keys in the order they are written, so that the JSON reads like the text.
using json = nlohmann::ordered_json;

/// Where a user reads what the listed names mean, in the module's source tree.
constexpr const char* guide = "docs/nodes.md";

const char* TypeName(PTYPE type) {
    switch (type) {
        case PTYPE::Int:
            return "int";
        case PTYPE::Double:
            return "double";
        case PTYPE::Vec3d:
            return "Vec3d";
        case PTYPE::Vec4d:
            return "Vec4d";
        case PTYPE::Color:
            return "Color";
    }
    return "?";
}

/// One of a parameter's values (its default or a bound of its range) as a scene writes it: a number,
/// or a list of components.
json SceneValue(const Param& param, const Param::Components& value) {
    if (param.Type() == PTYPE::Int) return static_cast<int>(value[0]);
    if (param.ComponentCount() == 1) return value[0];
    return json(std::vector<double>(value.begin(), value.begin() + param.ComponentCount()));
}

std::string ClassIdText(unsigned int classId) {
    std::ostringstream text;
    text << "0x" << std::hex << std::setw(8) << std::setfill('0') << classId;
    return text.str();
}

/// Everything `list` reports about one node type, from a node its descriptor creates.
json Describe(const quib::NodeType& type) {
    json entry = {{"index", type.index}, {"classId", ClassIdText(type.classId)}, {"name", type.typeName}};
    const std::unique_ptr<Function> node = type.Create();
    if (!node) {
        entry["error"] = "the descriptor created no function node";
        return entry;
    }
    entry["nodeName"] = node->TypeName();
    entry["category"] = node->Category();
    entry["params"] = json::array();
    for (const Param* param : node->Params()) {
        json described = {
            {"name", param->Name()},
            {"type", TypeName(param->Type())},
            {"default", SceneValue(*param, param->Constant())},
            {"range", {SceneValue(*param, param->Minimum()), SceneValue(*param, param->Maximum())}},
            {"flag", param->ParamFlag},
            {"style", param->ParamStyle}};
        const std::vector<quib::Choice> choices = quib::ChoicesOf(*param);
        if (!choices.empty()) {
            described["choices"] = json::array();
            for (const quib::Choice& choice : choices)
                described["choices"].push_back({{"value", choice.value}, {"label", choice.label}});
        }
        entry["params"].push_back(std::move(described));
    }
    entry["curves"] = json::array();
    for (const CurveHolder* curve : node->Curves()) {
        entry["curves"].push_back({{"name", curve->Name()},
                                   {"form", curve->Form() == 3 ? "rgb" : "grey"},
                                   {"inputRange", {curve->InputLow(), curve->InputHigh()}}});
    }
    entry["gradients"] = json::array();
    for (const Gradient* gradient : node->Gradients())
        entry["gradients"].push_back({{"name", gradient->Label()}});
    return entry;
}

/// A number, or a list of numbers, as the text listing writes it: [0.5, 0.5, 0.5].
std::string ValueText(const json& value) {
    if (!value.is_array())
        return value.is_number_integer() ? value.dump() : quib::FormatReal(value.get<double>());
    std::string text = "[";
    for (const json& component : value)
        text += (text.size() > 1 ? ", " : "") + ValueText(component);
    return text + "]";
}

/// A parameter's range as the text listing writes it; a vector whose bounds are the same in every
/// component (all the module's are) gives each bound once.
std::string RangeText(const json& range) {
    const auto uniform = [](const json& bound) {
        return bound.is_array() &&
               std::all_of(bound.begin(), bound.end(), [&](const json& c) { return c == bound[0]; });
    };
    if (uniform(range[0]) && uniform(range[1]))
        return ValueText(range[0][0]) + " to " + ValueText(range[1][0]) + " in each component";
    return ValueText(range[0]) + " to " + ValueText(range[1]);
}

void PrintText(const json& listing, std::ostream& out) {
    out << listing["module"].get<std::string>() << ", version " << ValueText(listing["version"]) << "\n";
    out << "What each node makes and what its parameters do: " << listing["guide"].get<std::string>() << "\n";
    for (const json& type : listing["types"]) {
        out << "\n[" << type["index"] << "] " << type["classId"].get<std::string>() << " " << type["name"]
            << "\n";
        if (type.contains("error")) {
            out << "    " << type["error"].get<std::string>() << "\n";
            continue;
        }
        out << "    node name " << type["nodeName"] << ", category " << type["category"] << "\n";
        for (const json& param : type["params"]) {
            out << "    param " << param["name"] << ": " << param["type"].get<std::string>() << " = "
                << ValueText(param["default"]) << ", range " << RangeText(param["range"]);
            if (param.contains("choices")) {
                out << ", choices";
                for (const json& choice : param["choices"])
                    out << (&choice == &param["choices"][0] ? " " : ", ") << choice["value"] << " = "
                        << choice["label"];
            }
            out << "\n";
        }
        for (const json& curve : type["curves"]) {
            out << "    curve " << curve["name"] << ": " << curve["form"].get<std::string>() << ", input "
                << ValueText(curve["inputRange"][0]) << " to " << ValueText(curve["inputRange"][1]) << "\n";
        }
        for (const json& gradient : type["gradients"])
            out << "    gradient " << gradient["name"] << "\n";
    }
}

}  // namespace

void RunList(const quib::Module& module, bool asJson, std::ostream& out) {
    json listing = {
        {"module", module.Path()}, {"version", module.Version()}, {"guide", guide}, {"types", json::array()}};
    for (const quib::NodeType& type : module.Types())
        listing["types"].push_back(Describe(type));
    errno = 0;
    if (asJson) {
        out << listing.dump(2) << "\n";
    } else {
        PrintText(listing, out);
    }
    out.flush();
    CheckWritten(out);
}

}  // namespace vantrel
