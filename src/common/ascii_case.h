#pragma once

#include <string>
#include <string_view>

namespace kestrel::common {

// The text with the letters a to z in upper case; every other byte (Windows-1252
// accented letters included) as it is, whatever the process's locale. File names,
// aliases, field names and codes are compared this way.
inline std::string UpperAscii(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper;
}

}  // namespace kestrel::common
