// `vantrel list`: what a module offers, read from the nodes its descriptors create.

#include <iomanip>
#include <ostream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "host/curve_holder.h"
#include "host/gradient.h"
#include "host/param.h"
#include "quib/text.h"
#include "tools/commands.h"

namespace vantrel {
namespace {

// Keys in the order they are written, so that the JSON reads like the text.
using json = nlohmann::ordered_json;

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

/// A parameter's default as a scene writes it: a number, or a list of components.
json DefaultValue(const Param& param) {
    const Param::Components& value = param.Constant();
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
        entry["params"].push_back(
            {{"name", param->Name()}, {"type", TypeName(param->Type())}, {"default", DefaultValue(*param)}});
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

void PrintText(const json& listing, std::ostream& out) {
    out << listing["module"].get<std::string>() << ", version " << ValueText(listing["version"]) << "\n";
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
                << ValueText(param["default"]) << "\n";
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
    json listing = {{"module", module.Path()}, {"version", module.Version()}, {"types", json::array()}};
    for (const quib::NodeType& type : module.Types())
        listing["types"].push_back(Describe(type));
    if (asJson) {
        out << listing.dump(2) << "\n";
    } else {
        PrintText(listing, out);
    }
}

}  // namespace vantrel
