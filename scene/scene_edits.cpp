#include "scene/scene_edits.h"

#include "host/function.h"
#include "host/param.h"
#include "quib/error.h"
#include "quib/text.h"
#include "scene/json_reader.h"
#include "scene/module_set.h"
#include "scene/scene_format.h"

namespace vantrel {
namespace {

using quib::Error;
using quib::Json;

/// The ids of the nodes of `root`, those that are strings, quoted, as a list for a message.
std::string IdsOf(const Json& root) {
    std::vector<std::string> ids;
    const auto nodes = root.find("nodes");
    if (nodes != root.end() && nodes->is_array()) {
        for (const Json& node : *nodes) {
            const auto id = node.is_object() ? node.find("id") : node.end();
            if (id != node.end() && id->is_string()) ids.push_back(quib::Quote(id->get<std::string>()));
        }
    }
    return quib::NameList(ids);
}

/// The node of `root` whose id, followed by a dot, begins `assignment`: of several, the one with the
/// longest id. Null when none does.
Json* NodeSetBy(Json& root, std::string_view assignment) {
    Json* found = nullptr;
    std::size_t longest = 0;
    const auto nodes = root.is_object() ? root.find("nodes") : root.end();
    if (nodes == root.end() || !nodes->is_array()) return nullptr;
    for (Json& node : *nodes) {
        const auto id = node.is_object() ? node.find("id") : node.end();
        if (id == node.end() || !id->is_string()) continue;
        const std::string& text = id->get_ref<const std::string&>();
        if (text.size() >= longest && assignment.size() > text.size() && assignment.starts_with(text) &&
            assignment[text.size()] == '.') {
            found = &node;
            longest = text.size();
        }
    }
    return found;
}

/// The length of the parameter's name that begins `rest` (`PARAM=VALUE`): the longest of `node`'s
/// type's own parameter names that is followed by '=' (a name may hold one: "(2=plane, 3=sphere)..."),
/// else up to the first '=', for the scene's check to name as a parameter the type does not have.
std::size_t ParamNameLength(const Json& node, std::string_view rest, const ModuleSet& modules) {
    std::size_t length = rest.find('=');
    const auto type = node.find("type");
    const quib::NodeType* found = nullptr;
    if (type != node.end() && type->is_string())
        found = modules.FindStored(type->get_ref<const std::string&>());
    const std::unique_ptr<Function> made = found != nullptr ? found->Create() : nullptr;
    if (made == nullptr) return length;
    std::size_t longest = 0;
    for (const Param* param : made->Params()) {
        const std::string& name = param->Name();
        if (name.size() >= longest && rest.size() > name.size() && rest.starts_with(name) &&
            rest[name.size()] == '=') {
            length = longest = name.size();
        }
    }
    return length;
}

/// `root` with `setting` made: the value put into the params of the node it names.
void Apply(Json& root, const SceneEdits::Setting& setting, const std::string& fileName,
           const ModuleSet& modules) {
    const std::string_view assignment = setting.assignment;
    Json* node = NodeSetBy(root, assignment);
    if (node == nullptr) {
        const std::size_t dot = assignment.rfind('.', assignment.find('='));
        throw Error::Expected(
            Error::Code::UnknownNode, {}, "the id of a node of " + fileName + " before the dot",
            quib::Quote(std::string(assignment.substr(0, dot))), "the ids are " + IdsOf(root))
            .WithSource(setting.said);
    }
    const std::string_view rest = assignment.substr(node->at("id").get_ref<const std::string&>().size() + 1);
    const std::size_t nameLength = ParamNameLength(*node, rest, modules);
    std::optional<JsonDocument> value;
    try {
        value.emplace(JsonDocument::Parse(std::string(rest.substr(nameLength + 1)), sceneNesting));
    } catch (const Error& error) {
        throw Error(Error::Code::NotJson, "expected a value written as in a scene file; at line " +
                                              std::to_string(error.Line()) + ", column " +
                                              std::to_string(error.Column()) + ": " + error.Detail())
            .WithSource(setting.said);
    }
    Json& params = (*node)["params"];
    if (params.is_null()) params = Json::object();
    // Params of another kind are left for the check to refuse as they stand in the file.
    if (params.is_object()) params[std::string(rest.substr(0, nameLength))] = std::move(value->Value());
}

}  // namespace

void SceneEdits::ApplyTo(Json& root, const std::string& fileName, const ModuleSet& modules) const {
    for (const Setting& setting : settings)
        Apply(root, setting, fileName, modules);
    if (!output.empty() && root.is_object()) root["output"] = output;
}

}  // namespace vantrel
