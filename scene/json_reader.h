#pragma once
/// @file
/// JSON as scene files and requests are read: a strict parser that says where it stopped.

#include <cstddef>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace vantrel {

/// JSON text that cannot be used. `Where()` is "line 3, column 14", or the JSON path of a key given
/// twice (`AtPath()`); what() is both, "where: expected ...".
class JsonError : public std::runtime_error {
public:
    JsonError(const std::string& where, const std::string& expected, bool atPath = false);
    const std::string& Where() const { return where; }
    const std::string& Expected() const { return expected; }
    /// Whether `Where()` is a JSON path rather than a line and column.
    bool AtPath() const { return atPath; }

private:
    std::string where;
    std::string expected;
    bool atPath;
};

/// A value read by ParseJson. It frees itself from the leaves up without allocating: the library's
/// own destructor first moves the elements of a list into a new one as large, which throws, and so
/// ends the program, when memory has run out, just when a document too large for it is let go.
class ParsedJson {
public:
    ParsedJson(ParsedJson&& other) noexcept = default;
    ParsedJson& operator=(ParsedJson&&) = delete;
    ~ParsedJson();

    const nlohmann::json& Value() const { return value; }

private:
    friend ParsedJson ParseJson(const std::string& text, std::size_t maxNesting);
    ParsedJson() = default;

    nlohmann::json value;
};

/// Reads `text` as one JSON value. Beyond what the library refuses, it refuses a NUL character (which
/// the library takes for the end of the text), a number beyond the range of a double, more than
/// `maxNesting` lists and objects one inside the other (the freeing above recurses once a level), and
/// a key given twice in one object (which the library would let the last win). Throws JsonError, or
/// std::bad_alloc when memory runs out.
ParsedJson ParseJson(const std::string& text, std::size_t maxNesting);

}  // namespace vantrel
