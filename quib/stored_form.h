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

#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/function.h"

namespace quib {

/// The link text that names the sample position instead of a node.
inline constexpr const char* positionLink = "@position";

/// The most lists and objects a stored form holds one inside the other: a gradient stop's colour, in
/// the stop, in the gradient's list, in "gradients", in the node's object.
inline constexpr std::size_t storedFormNesting = 5;

/// A node type's class id as a stored form writes it, "0x92512342".
std::string ClassIdText(unsigned int classId);
/// The class id `text` writes ("0x" or "0X" and hexadecimal digits), or nothing when it is not one.
std::optional<unsigned int> ParseClassId(const std::string& text);

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
