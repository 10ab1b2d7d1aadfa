#include "quib/error.h"

#include <utility>

#include "quib/text.h"

namespace quib {

Error::Error(Kind kind, std::string detail) : kind(kind), detail(std::move(detail)) {
    Compose();
}

Error Error::Expected(Kind kind, std::optional<std::string> pointer, std::string expected, std::string found,
                      std::string note) {
    std::string detail = "expected " + expected;
    if (!found.empty()) detail += ", not " + found;
    if (!note.empty()) detail += "; " + note;
    Error error(kind, std::move(detail));
    error.pointer = std::move(pointer);
    error.expected = std::move(expected);
    error.found = std::move(found);
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
    static constexpr const char* names[] = {"bad-input", "bad-module", "refused", "not-found",
                                            "conflict",  "too-large",  "busy",    "failure"};
    return names[static_cast<int>(kind)];
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
