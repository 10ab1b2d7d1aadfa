#include "scene/module_listing.h"

#include <memory>
#include <vector>

#include "host/curve_holder.h"
#include "host/gradient.h"
#include "host/param.h"
#include "quib/param_choices.h"
#include "quib/text.h"

namespace vantrel {
namespace {

using quib::Json;

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
Json SceneValue(const Param& param, const Param::Components& value) {
    if (param.Type() == PTYPE::Int) return TruncateToInt(value[0]);
    if (param.ComponentCount() == 1) return value[0];
    return Json(std::vector<double>(value.begin(), value.begin() + param.ComponentCount()));
}

/// A class id as eight hexadecimal digits, "0x92512342".
std::string ClassIdDigits(unsigned int classId) {
    std::string digits = quib::ClassIdText(classId).substr(2);
    return "0x" + std::string(8 - std::min<std::size_t>(8, digits.size()), '0') + digits;
}

/// Everything the listing says of one node type, from a node its descriptor creates.
Json Describe(const quib::NodeType& type) {
    Json entry = {{"index", type.index}, {"classId", ClassIdDigits(type.classId)}, {"name", type.typeName}};
    const std::unique_ptr<Function> node = type.Create();
    if (!node) {
        entry["error"] = "the descriptor created no function node";
        return entry;
    }
    entry["nodeName"] = node->TypeName();
    entry["category"] = node->Category();
    entry["params"] = Json::array();
    for (const Param* param : node->Params()) {
        Json described = {
            {"name", param->Name()},
            {"type", TypeName(param->Type())},
            {"default", SceneValue(*param, param->Constant())},
            {"range", {SceneValue(*param, param->Minimum()), SceneValue(*param, param->Maximum())}},
            {"flag", param->ParamFlag},
            {"style", param->ParamStyle}};
        const std::vector<quib::Choice> choices = quib::ChoicesOf(*param);
        if (!choices.empty()) {
            described["choices"] = Json::array();
            for (const quib::Choice& choice : choices)
                described["choices"].push_back({{"value", choice.value}, {"label", choice.label}});
        }
        entry["params"].push_back(std::move(described));
    }
    entry["curves"] = Json::array();
    for (const CurveHolder* curve : node->Curves()) {
        entry["curves"].push_back({{"name", curve->Name()},
                                   {"form", CurveFormName(*curve)},
                                   {"inputRange", {curve->InputLow(), curve->InputHigh()}}});
    }
    entry["gradients"] = Json::array();
    for (const Gradient* gradient : node->Gradients())
        entry["gradients"].push_back({{"name", gradient->Label()}});
    return entry;
}

/// A file's path as JSON text holds it: a path is bytes, and JSON text is UTF-8, so one that is not is
/// given escaped (\xe9).
std::string JsonPath(const std::string& path) {
    return quib::IsUtf8(path) ? path : quib::Printable(path);
}

}  // namespace

const char* CurveFormName(const CurveHolder& curve) {
    return curve.Form() == 3 ? "rgb" : "grey";
}

Json ListModule(const ModuleSet& modules) {
    const quib::Module& first = *modules.Modules().front();
    Json listing = {{"module", JsonPath(first.Path())},
                    {"version", first.Version()},
                    {"guide", nodeGuide},
                    {"modules", Json::array()},
                    {"types", Json::array()}};
    for (const ModuleSet::Member& module : modules.Modules()) {
        const std::string path = JsonPath(module->Path());
        listing["modules"].push_back({{"module", path}, {"version", module->Version()}});
        for (const quib::NodeType& type : module->Types()) {
            Json entry = Describe(type);
            entry["module"] = path;
            listing["types"].push_back(std::move(entry));
        }
    }
    return listing;
}

}  // namespace vantrel
