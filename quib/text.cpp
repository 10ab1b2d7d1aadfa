// Text of reals, and input as messages quote it.

#include "quib/text.h"

#include <charconv>
#include <cmath>

namespace quib {

void AppendReal(std::string& text, double value) {
    if (std::isnan(value)) {
        text += "nan";
    } else if (std::isinf(value)) {
        text += value < 0.0 ? "-inf" : "inf";
    } else {
        // The longest shortest form is 24 characters, "-2.2250738585072014e-308".
        char digits[32];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        text.append(digits, result.ptr);
    }
}

std::string FormatReal(double value) {
    std::string text;
    AppendReal(text, value);
    return text;
}

namespace {

/// The bytes of the UTF-8 character that starts `text` (1 to 4), or 0 when it does not start with one:
/// a stray continuation byte, a lead byte without its continuations, an overlong or surrogate form, or
/// a code point beyond U+10FFFF.
std::size_t CharacterLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned int low = 0x80;  // the least second byte that is not an overlong or surrogate form
    unsigned int high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0) low = 0xa0;
        if (lead == 0xed) high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0) low = 0x90;
        if (lead == 0xf4) high = 0x8f;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(i) & 0xc0) != 0x80) return 0;
    }
    return length;
}

/// Appends `text` with control characters and bytes that are not UTF-8 escaped, and with `"` and `\`
/// escaped too when `quoted`, as long as the result stays within `limit` bytes. Returns how many bytes
/// of `text` went in.
std::size_t AppendEscaped(std::string& out, std::string_view text, bool quoted, std::size_t limit) {
    static constexpr char hex[] = "0123456789abcdef";
    const std::size_t start = out.size();
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = CharacterLength(text.substr(at));
        const auto c = static_cast<unsigned char>(text[at]);
        std::string piece;
        if (length == 0) {
            piece = {'\\', 'x', hex[c >> 4], hex[c & 15]};
        } else if (length == 2 && c == 0xc2 && static_cast<unsigned char>(text[at + 1]) < 0xa0) {
            // U+0080 to U+009F, the C1 controls, which some terminals obey as escape sequences
            const auto code = static_cast<unsigned char>(text[at + 1]);
            piece = {'\\', 'u', '0', '0', hex[code >> 4], hex[code & 15]};
        } else if (c < 0x20 || c == 0x7f) {
            switch (c) {
                case '\n':
                    piece = "\\n";
                    break;
                case '\r':
                    piece = "\\r";
                    break;
                case '\t':
                    piece = "\\t";
                    break;
                default:
                    piece = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            }
        } else if (quoted && (c == '"' || c == '\\')) {
            piece = {'\\', static_cast<char>(c)};
        } else {
            piece = text.substr(at, length);
        }
        if (out.size() - start + piece.size() > limit) break;
        out += piece;
        at += length == 0 ? 1 : length;
    }
    return at;
}

std::string Escaped(std::string_view text, bool quoted) {
    std::string out = quoted ? "\"" : "";
    const std::size_t taken = AppendEscaped(out, text, quoted, excerptLength);
    if (quoted) out += '"';
    if (taken < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
    return out;
}

}  // namespace

bool IsUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = CharacterLength(text.substr(at));
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::string Excerpt(std::string_view text) {
    return Escaped(text, false);
}

std::string Quote(std::string_view text) {
    return Escaped(text, true);
}

std::string Printable(std::string_view text) {
    std::string out;
    AppendEscaped(out, text, false, std::string::npos);
    return out;
}

std::string NameList(const std::vector<std::string>& names) {
    constexpr std::size_t listed = 12;
    const std::size_t shown = names.size() > listed ? listed - 1 : names.size();
    std::string list;
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0) list += i + 1 == names.size() ? " and " : ", ";
        list += names[i];
    }
    if (shown < names.size()) list += " and " + std::to_string(names.size() - shown) + " more";
    return list;
}

}  // namespace quib
