// `vantrel list`: what the loaded modules offer, as text or as JSON.

#include <algorithm>
#include <cerrno>
#include <ostream>

#include "quib/text.h"
#include "scene/module_listing.h"
#include "tools/cli/commands.h"

namespace vantrel {
namespace {

using json = quib::Json;

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

/// One node type as the text listing writes it.
void PrintType(const json& type, std::ostream& out) {
    out << "\n[" << type["index"] << "] " << type["classId"].get<std::string>() << " " << type["name"]
        << "\n";
    if (type.contains("error")) {
        out << "    " << type["error"].get<std::string>() << "\n";
        return;
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

/// Each module under a heading of its own, with its node types.
void PrintText(const json& listing, std::ostream& out) {
    out << "What each node makes and what its parameters do: " << listing["guide"].get<std::string>() << "\n";
    for (const json& module : listing["modules"]) {
        out << "\n== " << module["module"].get<std::string>() << ", version " << ValueText(module["version"])
            << "\n";
        for (const json& type : listing["types"]) {
            if (type["module"] == module["module"]) PrintType(type, out);
        }
    }
}

}  // namespace

void RunList(const ModuleSet& modules, bool asJson, std::ostream& out) {
    const json listing = ListModule(modules);
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
