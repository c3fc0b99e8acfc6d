#pragma once

#include <string>
#include <string_view>

namespace kestrel::base {

// The byte with the letters a to z in upper case; every other byte (Windows-1252
// accented letters included) as it is, whatever the process's locale.
constexpr char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The text upper-cased byte by byte as above. File names, aliases, field names and
// codes are compared this way.
inline std::string UpperAscii(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        c = UpperAscii(c);
    }
    return upper;
}

}  // namespace kestrel::base
