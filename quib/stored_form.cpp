// What the stored form's writer and reader share.

#include "quib/stored_form.h"

#include <charconv>

#include "quib/text.h"

namespace quib {

std::string ClassIdText(unsigned int classId) {
    char hex[16];
    return "0x" + std::string(hex, std::to_chars(hex, hex + sizeof hex, classId, 16).ptr);
}

std::optional<unsigned int> ParseClassId(const std::string& text) {
    if (text.size() <= 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return std::nullopt;
    unsigned int classId = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data() + 2, end, classId, 16);
    if (stop != end || error != std::errc()) return std::nullopt;
    return classId;
}

std::string JsonExcerpt(const Json& value) {
    return Excerpt(value.dump(-1, ' ', false, Json::error_handler_t::replace));
}

bool IsWholeNumber(const Json& value) {
    return value.is_number_integer() &&
           !(value.is_number_unsigned() && value.get<std::uint64_t>() > std::uint64_t{INT64_MAX});
}

}  // namespace quib
