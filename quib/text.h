#pragma once
/// @file
/// Text of reals as the host writes it everywhere: in `Converter`, in the stored form's messages and in
/// the `vantrel` tool's output; and input quoted in a message, cut to a length one can read.

#include <cstddef>
#include <string>
#include <string_view>

namespace quib {

/// Appends the shortest decimal that reads back to exactly `value`; `nan`, `inf` or `-inf` where it is
/// not finite (the sign of a not-a-number is dropped).
void AppendReal(std::string& text, double value);

/// The text AppendReal writes, as a new string.
std::string FormatReal(double value);

/// The longest piece of input a message quotes, in bytes.
inline constexpr std::size_t excerptLength = 80;

/// `text` as a message quotes it: whole when it is at most `excerptLength` bytes, else its beginning,
/// cut before a UTF-8 character that would not fit, then "..." and the length of the whole, so that a
/// line of megabytes gives a message of one line.
std::string Excerpt(std::string_view text);

}  // namespace quib
