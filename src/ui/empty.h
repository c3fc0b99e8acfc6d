#pragma once

#include <string_view>

namespace kestrel::ui {

// The one emptiness test of the whole application: a byte string is blank when it
// is empty or holds only blanks (20h), tabs (09h), line feeds (0Ah) and carriage
// returns (0Dh). It decides an empty file choice, an empty port setting and the
// end of the tape.
constexpr bool IsBlankByte(unsigned char byte) {
    return byte == 0x20 || byte == 0x09 || byte == 0x0A || byte == 0x0D;
}

bool EMPTY(std::string_view text);

// A literal must not slide into some other overload through a pointer conversion.
inline bool EMPTY(const char* text) {
    return text == nullptr || EMPTY(std::string_view{text});
}

}  // namespace kestrel::ui
