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
        NotFound,   ///< no such file, page or interface
        TooLarge,   ///< more than a request or image may hold
        Failure,    ///< a failure while working: a file that cannot be written, memory run out
    };

    /// What went wrong, for a program to read: one of a few stable names (CodeName) that no change of a
    /// message's wording changes. Each code is of one kind: all but the last four are BadInput's.
    enum class Code {
        BadValue,       ///< "bad-value": a value that cannot be used, for a reason the message says
        NotJson,        ///< "not-json": text that is not JSON (malformed, cut short, or not UTF-8)
        Duplicate,      ///< "duplicate": a key of an object, or a node's id, given twice
        Missing,        ///< "missing": a member that must be there is not
        WrongType,      ///< "wrong-type": a value of another JSON type than the one expected
        OutOfRange,     ///< "out-of-range": a number, size or count beyond its bounds
        NotIncreasing,  ///< "not-increasing": a curve's x or a gradient's position not above the one before
        UnknownType,    ///< "unknown-type": a node type the loaded modules do not offer
        UnknownMember,  ///< "unknown-member": a key, parameter, curve, gradient or channel there is not
        UnknownNode,    ///< "unknown-node": an id that names no node of the scene
        BadLink,        ///< "bad-link": a link to its own node, in a cycle, or in too deep a chain
        BadModule,      ///< "bad-module": Kind::BadModule
        NotFound,       ///< "not-found": Kind::NotFound
        TooLarge,       ///< "too-large": Kind::TooLarge
        Failure,        ///< "failure": Kind::Failure
    };

    /// An error whose detail is `detail`, said as it stands ("cannot read the file: No such file"), of
    /// the kind's most general code (BadInput's is BadValue).
    Error(Kind kind, std::string detail);
    Error(Code code, std::string detail);

    /// The error "expected EXPECTED[, not FOUND][; NOTE]" about the value at `pointer` (or about no
    /// value in particular). `found` is an excerpt of what stood there, already quoted as the message
    /// shows it.
    static Error Expected(Code code, std::optional<std::string> pointer, std::string expected,
                          std::string found = {}, std::string note = {});

    Kind GetKind() const;
    Code GetCode() const { return code; }
    const std::string& Source() const { return source; }
    const std::optional<std::string>& Pointer() const { return pointer; }
    /// Where in a file's text, counted from 1; 0 when not known.
    int Line() const { return line; }
    int Column() const { return column; }
    /// What was expected, without the word; empty for an error that says no expectation.
    const std::string& ExpectedText() const { return expected; }
    /// What stood there instead, as quoted; may be empty.
    const std::string& Found() const { return found; }
    /// What the message adds after the expectation ("there is no such node"); may be empty.
    const std::string& Note() const { return note; }
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

    Code code;
    std::string source;
    std::optional<std::string> pointer;
    int line = 0;
    int column = 0;
    std::string expected;
    std::string found;
    std::string note;
    std::string detail;
    std::string message;
};

/// The name of a kind as replies and bindings give it: "bad-input", "bad-module", "not-found",
/// "too-large", "failure".
const char* KindName(Error::Kind kind);
/// The name of a code, as its comment in Error::Code gives it.
const char* CodeName(Error::Code code);

/// The RFC 6901 pointer of the member `key` of the value at `pointer`: "/" and the key with "~" written
/// "~0" and "/" written "~1". A key no node could have (longer than an excerpt, or holding control
/// characters) stands as its excerpt, so that no pointer carries megabytes of input.
std::string MemberPointer(std::string_view pointer, std::string_view key);
/// The pointer of the element `index` of the list at `pointer`.
std::string ElementPointer(std::string_view pointer, std::size_t index);

}  // namespace quib
