#pragma once
/// @file
/// Text of reals as the host writes it everywhere: in `Converter`, in the stored form's messages and in
/// the `vantrel` tool's output.

#include <string>

namespace quib {

/// Appends the shortest decimal that reads back to exactly `value`; `nan`, `inf` or `-inf` where it is
/// not finite (the sign of a not-a-number is dropped).
void AppendReal(std::string& text, double value);

/// The text AppendReal writes, as a new string.
std::string FormatReal(double value);

}  // namespace quib
