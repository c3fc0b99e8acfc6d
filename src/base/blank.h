#pragma once

#include <algorithm>
#include <string_view>

namespace kestrel::base {

// The application's blank test: a byte string is blank when it is empty or holds
// only blanks (20h), tabs (09h), line feeds (0Ah) and carriage returns (0Dh). It
// decides an empty file choice, an empty port setting and the end of the tape; the
// framework's EMPTY and every other layer's test of a blank text are this one.
constexpr bool IsBlankByte(unsigned char byte) {
    return byte == 0x20 || byte == 0x09 || byte == 0x0A || byte == 0x0D;
}

constexpr bool IsBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return IsBlankByte(static_cast<unsigned char>(c)); });
}

}  // namespace kestrel::base
