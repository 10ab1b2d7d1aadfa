#pragma once
/// @file
/// The one error of the host runtime and the programs on it: from the JSON reader through the stored form
/// and the scene to an exit status, an HTTP reply and the editor page, it keeps what went wrong and where
/// as separate parts, so that each of them can show it in its own way.

#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace quib {

/// Something that cannot be done, said as "SOURCE: line L, column C: POINTER: DETAIL", each part there
/// only when known: `source` names the file, option or request it concerns; `pointer` is the RFC 6901
/// JSON Pointer of the value at fault ("/nodes/0/params/Subdivision", "" for the whole document); the line
/// and column say where that value, or the fault, stands in a file's text. Every piece of input a message
/// quotes is an excerpt (quib/text.h): cut to a readable length, control characters escaped.
class Error : public std::exception {
public:
    /// What kind of fault it is, which decides a program's exit status and a server's HTTP status.
    enum class Kind {
        BadInput,   ///< a file, field, option or request that cannot be used as it stands
        BadModule,  ///< a module that cannot be loaded or used
        Refused,    ///< what the asker may not have: a file outside the folder, another site's page
        NotFound,   ///< no such file, page or interface
        Conflict,   ///< superseded by newer work, or a file changed since it was read
        TooLarge,   ///< more than a request or image may hold
        Busy,       ///< too much work in flight: try again later
        Failure,    ///< a failure while working: a file that cannot be written, memory run out
    };

    /// An error whose detail is `detail`, said as it stands ("cannot read the file: No such file").
    Error(Kind kind, std::string detail);

    /// The error "expected EXPECTED[, not FOUND][; NOTE]" about the value at `pointer` (or about no
    /// value in particular). `found` is an excerpt of what stood there, already quoted as the message
    /// shows it.
    static Error Expected(Kind kind, std::optional<std::string> pointer, std::string expected,
                          std::string found = {}, std::string note = {});

    Kind GetKind() const { return kind; }
    const std::string& Source() const { return source; }
    const std::optional<std::string>& Pointer() const { return pointer; }
    /// Where in a file's text, counted from 1; 0 when not known.
    int Line() const { return line; }
    int Column() const { return column; }
    /// What was expected, without the word; empty for an error that says no expectation.
    const std::string& ExpectedText() const { return expected; }
    /// What stood there instead, as quoted; may be empty.
    const std::string& Found() const { return found; }
    /// The message after the place: "expected ..., not ..." or the detail given.
    const std::string& Detail() const { return detail; }

    /// The same error about `newSource` (a file's name, "--size", "request"), when it names none yet.
    Error& InSource(std::string newSource);
    /// The same error said of a source that was changed for this run: "FILE (with --set a.b=1)".
    Error& WithSource(std::string newSource);
    Error& AtPointer(std::string newPointer);
    /// The line and column where the fault stands in the source's text.
    Error& AtText(int newLine, int newColumn);

    /// The whole message.
    const char* what() const noexcept override { return message.c_str(); }

private:
    void Compose();

    Kind kind;
    std::string source;
    std::optional<std::string> pointer;
    int line = 0;
    int column = 0;
    std::string expected;
    std::string found;
    std::string detail;
    std::string message;
};

/// The name of `kind` as the server's replies and the Python package give it: "bad-input", "bad-module",
/// "refused", "not-found", "conflict", "too-large", "busy" or "failure".
const char* KindName(Error::Kind kind);

/// The RFC 6901 pointer of the member `key` of the value at `pointer`: "/" and the key with "~" written
/// "~0" and "/" written "~1". A key no node could have (longer than an excerpt, or holding control
/// characters) stands as its excerpt, so that no pointer carries megabytes of input.
std::string MemberPointer(std::string_view pointer, std::string_view key);
/// The pointer of the element `index` of the list at `pointer`.
std::string ElementPointer(std::string_view pointer, std::size_t index);

}  // namespace quib
