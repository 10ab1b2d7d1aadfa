#include "quib/error.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "quib/text.h"

namespace quib {

namespace {

constexpr const char* kindNames[] = {"bad-input", "bad-module", "not-found", "too-large", "failure"};

constexpr const char* codeNames[] = {"bad-value",      "not-json",     "duplicate",      "missing",
                                     "wrong-type",     "out-of-range", "not-increasing", "unknown-type",
                                     "unknown-member", "unknown-node", "bad-link",       "bad-module",
                                     "not-found",      "too-large",    "failure"};

/// The codes of the kinds other than BadInput, in the order of the kinds after it.
constexpr Error::Code ownCodes[] = {Error::Code::BadModule, Error::Code::NotFound, Error::Code::TooLarge,
                                    Error::Code::Failure};

}  // namespace

Error::Error(Kind kind, std::string detail)
    : Error(kind == Kind::BadInput ? Code::BadValue : ownCodes[static_cast<int>(kind) - 1],
            std::move(detail)) {}

Error::Error(Code code, std::string detail) : code(code), detail(std::move(detail)) {
    Compose();
}

Error::Kind Error::GetKind() const {
    const auto own = std::find(std::begin(ownCodes), std::end(ownCodes), code);
    return own == std::end(ownCodes) ? Kind::BadInput : static_cast<Kind>(own - std::begin(ownCodes) + 1);
}

Error Error::Expected(Code code, std::optional<std::string> pointer, std::string expected, std::string found,
                      std::string note) {
    std::string detail = "expected " + expected;
    if (!found.empty()) detail += ", not " + found;
    if (!note.empty()) detail += "; " + note;
    Error error(code, std::move(detail));
    error.pointer = std::move(pointer);
    error.expected = std::move(expected);
    error.found = std::move(found);
    error.note = std::move(note);
    error.Compose();
    return error;
}

Error& Error::InSource(std::string newSource) {
    if (source.empty()) WithSource(std::move(newSource));
    return *this;
}

Error& Error::WithSource(std::string newSource) {
    source = std::move(newSource);
    Compose();
    return *this;
}

Error& Error::AtPointer(std::string newPointer) {
    pointer = std::move(newPointer);
    Compose();
    return *this;
}

Error& Error::AtText(int newLine, int newColumn) {
    line = newLine;
    column = newColumn;
    Compose();
    return *this;
}

void Error::Compose() {
    message.clear();
    const auto part = [&](const std::string& text) {
        if (text.empty()) return;
        if (!message.empty()) message += ": ";
        message += text;
    };
    part(source);
    if (line > 0) part("line " + std::to_string(line) + ", column " + std::to_string(column));
    if (pointer) part(pointer->empty() ? "(top level)" : *pointer);
    part(detail);
}

const char* KindName(Error::Kind kind) {
    return kindNames[static_cast<int>(kind)];
}

const char* CodeName(Error::Code code) {
    return codeNames[static_cast<int>(code)];
}

std::string MemberPointer(std::string_view pointer, std::string_view key) {
    std::string token = Excerpt(key);
    std::string escaped;
    for (const char c : token) {
        if (c == '~') {
            escaped += "~0";
        } else if (c == '/') {
            escaped += "~1";
        } else {
            escaped += c;
        }
    }
    return std::string(pointer) + "/" + escaped;
}

std::string ElementPointer(std::string_view pointer, std::size_t index) {
    return std::string(pointer) + "/" + std::to_string(index);
}

}  // namespace quib
