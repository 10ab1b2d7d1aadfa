#include "scene/json_reader.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "quib/text.h"

namespace vantrel {

using quib::Json;

namespace {

using Members = std::vector<std::pair<const std::string, Json>>;  // what an ordered object is made of

/// Frees a value's children, and theirs first, one at a time from the back: each is a leaf or empty by
/// the time it goes, and neither needs the library's stack nor moves the others.
void FreeChildren(Json& value) noexcept {
    if (value.is_array()) {
        auto& elements = value.get_ref<Json::array_t&>();
        while (!elements.empty()) {
            FreeChildren(elements.back());
            elements.pop_back();
        }
    } else if (value.is_object()) {
        auto& members = static_cast<Members&>(value.get_ref<Json::object_t&>());
        while (!members.empty()) {
            FreeChildren(members.back().second);
            members.pop_back();
        }
    }
}

/// The line and column of the character at `offset` in `text`.
TextPlace PlaceOf(const std::string& text, std::size_t offset) {
    offset = std::min(offset, text.size());
    const auto begin = text.begin();
    const auto lines = std::count(begin, begin + static_cast<std::ptrdiff_t>(offset), '\n');
    const std::size_t lineStart = offset == 0 ? 0 : text.rfind('\n', offset - 1) + 1;  // npos + 1 == 0
    return {static_cast<int>(lines + 1), static_cast<int>(offset - lineStart + 1)};
}

quib::Error TextError(quib::Error::Code code, const std::string& text, std::size_t offset,
                      std::string detail) {
    const TextPlace place = PlaceOf(text, offset);
    return std::move(quib::Error(code, std::move(detail)).AtText(place.line, place.column));
}

/// The reason in a parser message, without the library's prefix ("[json.exception.parse_error.101]")
/// and its own position ("parse error at line 1, column 5: "), and with what it last read, which may be
/// megabytes of the input, as an excerpt.
std::string ParseReason(const Json::exception& error) {
    const std::string message = error.what();
    const std::size_t column = message.find(", column ");
    const std::size_t start = column == std::string::npos ? message.find("] ") : message.find(": ", column);
    std::string reason = start == std::string::npos ? message : message.substr(start + 2);
    const std::string lastRead = "last read: '";
    const std::size_t quoted = reason.find(lastRead);
    if (quoted == std::string::npos) return reason;
    const std::size_t from = quoted + lastRead.size();
    const std::size_t to = reason.rfind('\'');
    const std::string read =
        reason.substr(from, to == std::string::npos || to < from ? std::string::npos : to - from);
    return reason.substr(0, quoted) + "last read: " + quib::Quote(read);
}

/// Walks the text for the parser and keeps, where the handler can see it, how far the parser has
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

/// Runs the library's parser over `text` with `handler`, which sees in `handler.read` how far it is.
template <class Handler>
bool Walk(const std::string& text, Handler& handler) {
    const char* begin = text.data();
    return Json::sax_parse(ReadingIterator(begin, &handler.read),
                           ReadingIterator(begin + text.size(), nullptr), &handler);
}

/// Whether the quote at `quote` is escaped by an odd number of backslashes before it.
bool Escaped(const std::string& text, std::size_t quote) {
    std::size_t backslashes = 0;
    while (quote > backslashes && text[quote - backslashes - 1] == '\\')
        ++backslashes;
    return backslashes % 2 == 1;
}

/// The opening quote of the string whose closing quote is just before `end`.
std::size_t OpeningQuote(const std::string& text, std::size_t end) {
    std::size_t start = end - 1;
    do {
        start = text.rfind('"', start - 1);
    } while (Escaped(text, start));
    return start;
}

/// The path of nested lists and objects the parser is in, as a JSON Pointer.
class Nesting {
public:
    /// The pointer of the value about to be read.
    std::string Next() const {
        std::string pointer;
        for (const Level& level : levels)
            pointer = level.array ? quib::ElementPointer(pointer, level.count)
                                  : quib::MemberPointer(pointer, level.key);
        return pointer;
    }
    std::size_t Depth() const { return levels.size(); }
    void Open(bool array) { levels.push_back({array, 0, {}}); }
    void Close() {
        levels.pop_back();
        Read();
    }
    void Key(const std::string& key) { levels.back().key = key; }
    /// A value was read in the innermost list: the next is the one after it.
    void Read() {
        if (!levels.empty() && levels.back().array) ++levels.back().count;
    }

private:
    struct Level {
        bool array;
        std::size_t count;  ///< in a list, the values read so far
        std::string key;    ///< in an object, the key of the member being read
    };
    std::vector<Level> levels;
};

/// Builds the value from the parser's events through the library's public handler interface, and
/// refuses what the library lets through.
class Builder final : public nlohmann::json_sax<Json> {
public:
    Builder(Json& root, const std::string& text, std::size_t maxNesting)
        : root(root), text(text), maxNesting(maxNesting) {}

    /// Where the parser is: the characters it has read.
    std::size_t read = 0;
    /// Why parsing stopped, when it stopped early.
    std::optional<quib::Error> failure;

    bool null() override { return Add(nullptr); }
    bool boolean(bool value) override { return Add(value); }
    bool number_integer(number_integer_t value) override { return Add(value); }
    bool number_unsigned(number_unsigned_t value) override { return Add(value); }
    bool number_float(number_float_t value, const string_t&) override { return Add(value); }
    bool string(string_t& value) override { return Add(std::move(value)); }
    bool binary(binary_t& value) override { return Add(std::move(value)); }

    bool start_object(std::size_t) override { return Open(Json::object()); }
    bool start_array(std::size_t) override { return Open(Json::array()); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }

    bool key(string_t& key) override {
        if (!open.back().keys.insert(key).second) {
            const TextPlace second = PlaceOf(text, OpeningQuote(text, read));
            nesting.Key(key);
            quib::Error error =
                quib::Error::Expected(quib::Error::Code::Duplicate, nesting.Next(),
                                      "each key once in its object", {}, "this is the second");
            return Fail(std::move(error.AtText(second.line, second.column)));
        }
        open.back().key = key;
        nesting.Key(key);
        return true;
    }

    bool parse_error(std::size_t byte, const std::string& token, const Json::exception& error) override {
        // `byte` counts the characters read: for a number, to its end; otherwise to where the parser
        // stopped, the last character read. The library's message of a number beyond the range of a
        // double has no position of its own.
        if (dynamic_cast<const Json::out_of_range*>(&error)) {
            return Fail(TextError(quib::Error::Code::OutOfRange, text, byte - std::min(byte, token.size()),
                                  "expected a number of at most 1.8e308 in size: " + ParseReason(error)));
        }
        return Fail(TextError(quib::Error::Code::NotJson, text, byte == 0 ? 0 : byte - 1,
                              "malformed JSON: " + ParseReason(error)));
    }

private:
    /// A list or object being filled.
    struct Container {
        Json* value;
        std::string key;             ///< in an object, the key of the member being read
        std::set<std::string> keys;  ///< in an object, its keys so far: an ordered object finds by search
    };

    bool Fail(quib::Error error) {
        failure.emplace(std::move(error));
        return false;
    }

    /// Puts `value` where the parser is, and returns it there.
    Json* Place(Json&& value) {
        if (open.empty()) {
            root = std::move(value);
            return &root;
        }
        Json& outer = *open.back().value;
        if (outer.is_array()) {
            auto& elements = outer.get_ref<Json::array_t&>();
            elements.push_back(std::move(value));
            return &elements.back();
        }
        // The key is new (key() checked), so it goes at the end without the object's own search.
        auto& members = static_cast<Members&>(outer.get_ref<Json::object_t&>());
        members.emplace_back(std::move(open.back().key), std::move(value));
        return &members.back().second;
    }

    bool Add(Json&& value) {
        Place(std::move(value));
        nesting.Read();
        return true;
    }

    bool Open(Json&& container) {
        if (open.size() == maxNesting) {
            return Fail(TextError(
                quib::Error::Code::OutOfRange, text, read - 1,
                "expected at most " + std::to_string(maxNesting) + " levels of nested lists and objects"));
        }
        const bool array = container.is_array();
        open.push_back({Place(std::move(container)), {}, {}});
        nesting.Open(array);
        return true;
    }

    bool Close() {
        open.pop_back();
        nesting.Close();
        return true;
    }

    Json& root;
    const std::string& text;
    std::size_t maxNesting;
    std::vector<Container> open;  ///< the containers being filled, outermost first
    Nesting nesting;
};

/// Finds where the value at `target` starts, without building anything: it stops at that value.
class Locator final : public nlohmann::json_sax<Json> {
public:
    Locator(const std::string& text, const std::string& target) : text(text), target(target) {}

    std::size_t read = 0;
    std::optional<std::size_t> found;  ///< the offset of the value's key, or of its first character

    bool null() override { return Scalar(); }
    bool boolean(bool) override { return Scalar(); }
    bool number_integer(number_integer_t) override { return Scalar(); }
    bool number_unsigned(number_unsigned_t) override { return Scalar(); }
    bool number_float(number_float_t, const string_t&) override { return Scalar(); }
    bool string(string_t&) override { return At(OpeningQuote(text, read)) && (nesting.Read(), true); }
    bool binary(binary_t&) override { return Scalar(); }
    bool start_object(std::size_t) override { return Open(false); }
    bool start_array(std::size_t) override { return Open(true); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }
    bool key(string_t& key) override {
        nesting.Key(key);
        if (nesting.Next() != target) return true;
        found = OpeningQuote(text, read);
        return false;
    }
    bool parse_error(std::size_t, const std::string&, const Json::exception&) override { return false; }

private:
    /// The value starting at `offset` is about to be taken: stop there when it is the one sought.
    bool At(std::size_t offset) {
        if (nesting.Next() != target) return true;
        found = offset;
        return false;
    }
    /// A number or a literal ends where the parser is, or a character before (a number is known to
    /// end only at the character after it): it starts after the blank, comma or bracket before it.
    bool Scalar() {
        constexpr std::string_view delimiters = " \t\r\n,:[]{}";
        std::size_t start = std::min(read, text.size());
        if (start > 0 && delimiters.find(text[start - 1]) != std::string_view::npos) --start;
        while (start > 0 && delimiters.find(text[start - 1]) == std::string_view::npos)
            --start;
        if (!At(start)) return false;
        nesting.Read();
        return true;
    }
    bool Open(bool array) {
        if (!At(read - 1)) return false;
        nesting.Open(array);
        return true;
    }
    bool Close() {
        nesting.Close();
        return true;
    }

    const std::string& text;
    const std::string& target;
    Nesting nesting;
};

}  // namespace

JsonDocument JsonDocument::Parse(std::string text, std::size_t maxNesting) {
    if (const std::size_t nul = text.find('\0'); nul != std::string::npos)
        throw TextError(quib::Error::Code::NotJson, text, nul,
                        "malformed JSON: a NUL character, which JSON text cannot hold");
    JsonDocument document;
    Builder builder(document.value, text, maxNesting);
    if (!Walk(text, builder)) throw std::move(*builder.failure);
    document.text = std::move(text);
    return document;
}

JsonDocument::JsonDocument(Json value) : value(std::move(value)) {}

JsonDocument::~JsonDocument() {
    FreeChildren(value);
}

std::optional<TextPlace> JsonDocument::Locate(const std::string& pointer) const {
    if (text.empty()) return std::nullopt;
    Locator locator(text, pointer);
    Walk(text, locator);
    if (!locator.found) return std::nullopt;
    return PlaceOf(text, *locator.found);
}

}  // namespace vantrel
