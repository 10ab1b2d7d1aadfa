#pragma once
/// @file
/// The stored form of a node: one JSON object with its type, parameters (constants or links), curves
/// and gradients.
///
///     { "type": "Curve3",
///       "params": { "In": [0.5, 0.25, 1] },          // or { "link": "other-node" }, { "link": "@position" }
///       "curves": { "Curve": { "red": [[0, 0], [1, 1]], "green": [...], "blue": [...] } },
///       "gradients": { "X color": [[0, [0, 0, 0]], [1, [1, 1, 1]]] } }
///
/// A grey curve is a plain list of [x, y] points. Reals that are not finite are written as the strings
/// "nan", "inf" and "-inf". Whatever an object omits keeps the node's current value.

#include <functional>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "host/function.h"

namespace quib {

/// A stored form that cannot be read: `path` is where (a JSON path such as `nodes[2].params.Subdivision`),
/// and what() says both where and what was expected.
class StoredFormError : public std::runtime_error {
public:
    StoredFormError(const std::string& path, const std::string& expected);
    const std::string& Path() const { return path; }
    const std::string& Expected() const { return expected; }

private:
    std::string path;
    std::string expected;
};

}  // namespace quib

/// The stored form being written: `Function::Save` fills `object`. `nodeId` names the node a linked
/// parameter reads from; without it a link is written with the source's object name.
class QuibOutputStream {
public:
    nlohmann::json object = nlohmann::json::object();
    std::function<std::string(const Function*)> nodeId;
};

/// The stored form being read by `Function::Load`. `path` prefixes every error's JSON path;
/// `resolveLink` finds the node of a link id (null when there is none). Keys the node does not know
/// are refused, except those in `ignoredKeys` (a scene's "id").
class QuibInputStream {
public:
    explicit QuibInputStream(const nlohmann::json& object) : object(object) {}

    const nlohmann::json& object;
    std::string path;
    std::function<Function*(const std::string&)> resolveLink;
    std::vector<std::string> ignoredKeys;
};
