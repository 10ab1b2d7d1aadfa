#include "scene/json_reader.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include "quib/json_path.h"

namespace vantrel {

using nlohmann::json;
using quib::ElementPath;
using quib::MemberPath;

JsonError::JsonError(const std::string& where, const std::string& expected, bool atPath)
    : std::runtime_error(where + ": " + expected), where(where), expected(expected), atPath(atPath) {}

namespace {

/// Frees a value's children, and theirs first, one at a time: each is a leaf or empty by the time it
/// goes, and neither needs the library's stack.
void FreeChildren(json& value) noexcept {
    if (value.is_array()) {
        auto& elements = value.get_ref<json::array_t&>();
        while (!elements.empty()) {
            FreeChildren(elements.back());
            elements.pop_back();
        }
    } else if (value.is_object()) {
        auto& members = value.get_ref<json::object_t&>();
        while (!members.empty()) {
            FreeChildren(members.begin()->second);
            members.erase(members.begin());
        }
    }
}

}  // namespace

ParsedJson::~ParsedJson() {
    FreeChildren(value);
}

namespace {

/// Line and column (both from 1) of the character at `offset` in `text`.
std::string LineAndColumn(const std::string& text, std::size_t offset) {
    offset = std::min(offset, text.size());
    const auto begin = text.begin();
    const auto lines = std::count(begin, begin + static_cast<std::ptrdiff_t>(offset), '\n');
    const std::size_t lineStart = offset == 0 ? 0 : text.rfind('\n', offset - 1) + 1;  // npos + 1 == 0
    return "line " + std::to_string(lines + 1) + ", column " + std::to_string(offset - lineStart + 1);
}

/// The reason in a parser message, without the library's prefix ("[json.exception.parse_error.101]")
/// and its own position ("parse error at line 1, column 5: ").
std::string ParseReason(const json::exception& error) {
    const std::string message = error.what();
    const std::size_t column = message.find(", column ");
    const std::size_t start = column == std::string::npos ? message.find("] ") : message.find(": ", column);
    return start == std::string::npos ? message : message.substr(start + 2);
}

/// Walks the text for the parser and keeps, where the builder can see it, how far the parser has
/// read: the library tells its handler no position but at an error.
class ReadingIterator {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    ReadingIterator() = default;
    ReadingIterator(const char* at, std::size_t* read) : at(at), start(at), read(read) {}

    reference operator*() const { return *at; }
    ReadingIterator& operator++() {
        *read = static_cast<std::size_t>(++at - start);
        return *this;
    }
    ReadingIterator operator++(int) {
        ReadingIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const ReadingIterator& other) const { return at == other.at; }

private:
    const char* at = nullptr;
    const char* start = nullptr;
    std::size_t* read = nullptr;
};

/// Builds the value from the parser's events through the library's public handler interface, and
/// refuses what the library lets through.
class Builder final : public nlohmann::json_sax<json> {
public:
    Builder(json& root, const std::string& text, std::size_t maxNesting)
        : root(root), text(text), maxNesting(maxNesting) {}

    /// Where the parser is: the characters it has read.
    std::size_t read = 0;
    /// Why parsing stopped, when it stopped early.
    std::optional<JsonError> failure;

    bool null() override { return Add(nullptr); }
    bool boolean(bool value) override { return Add(value); }
    bool number_integer(number_integer_t value) override { return Add(value); }
    bool number_unsigned(number_unsigned_t value) override { return Add(value); }
    bool number_float(number_float_t value, const string_t&) override { return Add(value); }
    bool string(string_t& value) override { return Add(std::move(value)); }
    bool binary(binary_t& value) override { return Add(std::move(value)); }

    bool start_object(std::size_t) override { return Open(json::object()); }
    bool start_array(std::size_t) override { return Open(json::array()); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }

    bool key(string_t& key) override {
        const json& object = *open.back().value;
        if (object.contains(key)) {
            // The parser has just read the key's closing quote; the opening one is the nearest before
            // it that no odd number of backslashes escapes.
            std::size_t start = read - 1;
            do {
                start = text.rfind('"', start - 1);
            } while (Escaped(start));
            return Fail(JsonError(
                MemberPath(PathOf(open.size()), key),
                "expected each key once in its object; this is the second, at " + LineAndColumn(text, start),
                true));
        }
        open.back().key = key;
        return true;
    }

    bool parse_error(std::size_t byte, const std::string& token, const json::exception& error) override {
        // `byte` counts the characters read: for a number, to its end; otherwise to where the parser
        // stopped, the last character read. The library's message of a number beyond the range of a
        // double has no position of its own.
        if (dynamic_cast<const json::out_of_range*>(&error)) {
            return Fail(JsonError(LineAndColumn(text, byte - std::min(byte, token.size())),
                                  "expected a number of at most 1.8e308 in size: " + ParseReason(error)));
        }
        return Fail(JsonError(LineAndColumn(text, byte == 0 ? 0 : byte - 1),
                              "malformed JSON: " + ParseReason(error)));
    }

private:
    /// A list or object being filled.
    struct Container {
        json* value;
        std::string key;  ///< in an object, the key of the member being read
    };

    bool Fail(JsonError error) {
        failure = std::move(error);
        return false;
    }

    bool Escaped(std::size_t quote) const {
        std::size_t backslashes = 0;
        while (quote > backslashes && text[quote - backslashes - 1] == '\\')
            ++backslashes;
        return backslashes % 2 == 1;
    }

    /// The path of the value the open container at `depth` (from 1) holds or is about to hold.
    std::string PathOf(std::size_t depth) const {
        std::string path;
        for (std::size_t i = 1; i < depth; ++i) {
            const Container& outer = open[i - 1];
            path = outer.value->is_array() ? ElementPath(path, outer.value->size() - 1)
                                           : MemberPath(path, outer.key);
        }
        return path;
    }

    /// Puts `value` where the parser is, and returns it there.
    json* Place(json&& value) {
        if (open.empty()) {
            root = std::move(value);
            return &root;
        }
        json& outer = *open.back().value;
        if (outer.is_array()) {
            auto& elements = outer.get_ref<json::array_t&>();
            elements.push_back(std::move(value));
            return &elements.back();
        }
        return &outer.get_ref<json::object_t&>().emplace(open.back().key, std::move(value)).first->second;
    }

    bool Add(json&& value) {
        Place(std::move(value));
        return true;
    }

    bool Open(json&& container) {
        if (open.size() == maxNesting) {
            return Fail(JsonError(
                LineAndColumn(text, read - 1),
                "expected at most " + std::to_string(maxNesting) + " levels of nested lists and objects"));
        }
        open.push_back({Place(std::move(container)), {}});
        return true;
    }

    bool Close() {
        open.pop_back();
        return true;
    }

    json& root;
    const std::string& text;
    std::size_t maxNesting;
    std::vector<Container> open;  ///< the containers being filled, outermost first
};

}  // namespace

ParsedJson ParseJson(const std::string& text, std::size_t maxNesting) {
    if (const std::size_t nul = text.find('\0'); nul != std::string::npos)
        throw JsonError(LineAndColumn(text, nul),
                        "malformed JSON: a NUL character, which JSON text cannot hold");
    ParsedJson parsed;
    Builder builder(parsed.value, text, maxNesting);
    const char* begin = text.data();
    if (!json::sax_parse(ReadingIterator(begin, &builder.read), ReadingIterator(begin + text.size(), nullptr),
                         &builder)) {
        throw *builder.failure;
    }
    return parsed;
}

}  // namespace vantrel
