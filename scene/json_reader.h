#pragma once
/// @file
/// JSON as scene files and requests are read: a strict parser that says where it stopped, and a document
/// that keeps its text, so that an error found later in a value can say where the value stands.

#include <cstddef>
#include <optional>
#include <string>

#include "quib/stored_form.h"

namespace vantrel {

/// A line and column of a text, both counted from 1.
struct TextPlace {
    int line = 0;
    int column = 0;
};

/// One JSON value, read once, with the text it was read from (if any).
///
/// It frees itself from the leaves up without allocating: the library's own destructor first moves the
/// elements of a list into a new one as large, which throws, and so ends the program, when memory has
/// run out, just when a document too large for it is let go.
class JsonDocument {
public:
    /// Reads `text` as one JSON value. Beyond what the library refuses, it refuses a NUL character
    /// (which the library takes for the end of the text), a number beyond the range of a double, more
    /// than `maxNesting` lists and objects one inside the other (the freeing above recurses once a
    /// level), and a key given twice in one object (which the library would let the last win). Throws
    /// quib::Error (BadInput) at the line and column of the fault, or std::bad_alloc.
    static JsonDocument Parse(std::string text, std::size_t maxNesting);

    /// A document of a value made elsewhere: it has no text to locate values in.
    explicit JsonDocument(quib::Json value);

    JsonDocument(JsonDocument&& other) noexcept = default;
    JsonDocument& operator=(JsonDocument&&) = delete;
    ~JsonDocument();

    const quib::Json& Value() const { return value; }
    quib::Json& Value() { return value; }

    /// Where the value at `pointer` stands in the text: the opening quote of its key when it is a
    /// member of an object, else its first character. Nothing when the document has no text or the text
    /// holds no such value.
    std::optional<TextPlace> Locate(const std::string& pointer) const;

private:
    JsonDocument() = default;

    quib::Json value;
    std::string text;
};

}  // namespace vantrel
