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
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/function.h"
#include "quib/error.h"

namespace quib {

/// JSON as the host reads and writes it: objects keep their keys in the order they came, so that a
/// stored form is written, and its faults are found, in the order of its file.
using Json = nlohmann::ordered_json;

/// The link text that names the sample position instead of a node.
inline constexpr const char* positionLink = "@position";

/// The most lists and objects a stored form holds one inside the other: a gradient stop's colour, in
/// the stop, in the gradient's list, in "gradients", in the node's object.
inline constexpr std::size_t storedFormNesting = 5;

/// A node type's class id as a stored form writes it, "0x92512342".
std::string ClassIdText(unsigned int classId);
/// The class id `text` writes ("0x" or "0X" and hexadecimal digits), or nothing when it is not one.
std::optional<unsigned int> ParseClassId(const std::string& text);

/// The channel names of a three-curve holder, in channel order.
inline constexpr const char* channelNames[] = {"red", "green", "blue"};

/// A value as a message quotes it: its JSON text, as an excerpt.
std::string JsonExcerpt(const Json& value);

/// Whether `value` is a whole number that fits a signed 64-bit integer. The reader keeps a non-negative
/// one as unsigned, and one beyond a signed 64-bit integer only so.
bool IsWholeNumber(const Json& value);

}  // namespace quib

/// The stored form being written: `Function::Save` fills `object`. `nodeId` names the node a linked
/// parameter reads from; without it a link is written with the source's object name. Save throws
/// nothing: when it cannot write the form (memory ran out), `object` is null and `failed` set.
class QuibOutputStream {
public:
    quib::Json object = quib::Json::object();
    std::function<std::string(const Function*)> nodeId;
    bool failed = false;
};

/// The stored form being read by `Function::Load`. `pointer` is the JSON Pointer of `object` in its
/// document, which prefixes every error's pointer; `resolveLink` finds the node of a link id (null
/// when there is none). Keys the node does not know are refused, except those in `ignoredKeys` (a
/// scene's "id").
///
/// Load throws nothing, as a node's module may be built by another compiler than the host: it takes
/// the whole form, or leaves the node as it was and says why in `failure`.
class QuibInputStream {
public:
    explicit QuibInputStream(const quib::Json& object) : object(object) {}
    /// It keeps a reference: a temporary, which a value of another JSON type would make, would be gone.
    explicit QuibInputStream(quib::Json&&) = delete;

    const quib::Json& object;
    std::string pointer;
    std::function<Function*(const std::string&)> resolveLink;
    std::vector<std::string> ignoredKeys;
    std::optional<quib::Error> failure;
};
