#include "scene/scene_edits.h"

#include "quib/error.h"
#include "quib/text.h"
#include "scene/json_reader.h"
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

/// `root` with `setting` made: the value put into the params of the node it names.
void Apply(Json& root, const SceneEdits::Setting& setting, const std::string& fileName) {
    std::optional<JsonDocument> value;
    try {
        value.emplace(JsonDocument::Parse(setting.value, sceneNesting));
    } catch (const Error& error) {
        throw Error(Error::Kind::BadInput, "expected a value written as in a scene file; at line " +
                                               std::to_string(error.Line()) + ", column " +
                                               std::to_string(error.Column()) + ": " + error.Detail())
            .WithSource(setting.said);
    }
    const auto nodes = root.is_object() ? root.find("nodes") : root.end();
    if (nodes != root.end() && nodes->is_array()) {
        for (Json& node : *nodes) {
            if (!node.is_object() || node.value("id", Json()) != setting.node) continue;
            Json& params = node["params"];
            if (params.is_null()) params = Json::object();
            // Params of another kind are left for the check to refuse as they stand in the file.
            if (params.is_object()) params[setting.param] = std::move(value->Value());
            return;
        }
    }
    throw Error::Expected(Error::Kind::BadInput, {}, "the id of a node of " + fileName + " before the dot",
                          quib::Quote(setting.node), "the ids are " + IdsOf(root))
        .WithSource(setting.said);
}

}  // namespace

void SceneEdits::ApplyTo(Json& root, const std::string& fileName) const {
    for (const Setting& setting : settings)
        Apply(root, setting, fileName);
    if (!output.empty() && root.is_object()) root["output"] = output;
}

}  // namespace vantrel
