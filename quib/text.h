#pragma once
/// @file
/// Text of reals as the host writes it everywhere: in `Converter`, in the stored form's messages and in
/// the `vantrel` tool's output; and input quoted in a message, cut to a length one can read.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quib {

/// Appends the shortest decimal that reads back to exactly `value`; `nan`, `inf` or `-inf` where it is
/// not finite (the sign of a not-a-number is dropped).
void AppendReal(std::string& text, double value);

/// The text AppendReal writes, as a new string.
std::string FormatReal(double value);

/// The longest piece of input a message quotes, in bytes.
inline constexpr std::size_t excerptLength = 80;

/// `text` as a message shows it: control characters (C0, DEL and C1) written as JSON escapes ("\n",
/// "\u001b"), so that input cannot move a terminal's cursor or retitle its window, nor a NUL end the
/// message; bytes that are not UTF-8 as "\xff"; and when that is longer than `excerptLength` bytes, its
/// beginning, cut before a character that would not fit, then "..." and the length of the whole input,
/// so that a line of megabytes gives a message of one line.
std::string Excerpt(std::string_view text);

/// `text` with its control characters and bytes that are not UTF-8 escaped as in an excerpt, but whole:
/// a whole message as a program prints it, whose names of files must stay whole to be found.
std::string Printable(std::string_view text);

/// "a", "b" and "c": names for a message, as given (quoted already); past twelve, the first eleven and
/// how many more there are.
std::string NameList(const std::vector<std::string>& names);

/// Whether `text` is all UTF-8 characters.
bool IsUtf8(std::string_view text);

/// The excerpt of `text` in double quotes, with quotes and backslashes inside escaped as in JSON.
std::string Quote(std::string_view text);

}  // namespace quib
