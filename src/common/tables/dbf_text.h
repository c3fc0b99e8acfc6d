#pragma once

// The text rules of DBF field bytes that the format's files share (dbf_format.cpp,
// dbf_fields.cpp).

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel::common::dbf_text {

inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

inline bool IsPadding(char c) {
    return c == ' ' || c == '\0';
}

// The text without the blanks and NULs around it.
inline std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsPadding(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsPadding(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The text cut or padded with blanks on the right to exactly `length` bytes.
inline std::string LeftAligned(std::string_view text, std::size_t length) {
    std::string field(text.substr(0, length));
    field.resize(length, ' ');
    return field;
}

// The text right-aligned in `length` bytes, or all asterisks when it is longer.
inline std::string RightAligned(std::string_view text, std::size_t length) {
    if (text.size() > length) {
        return std::string(length, '*');
    }
    return std::string(length - text.size(), ' ') + std::string(text);
}

}  // namespace kestrel::common::dbf_text
