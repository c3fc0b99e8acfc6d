#pragma once

#include <string>
#include <string_view>

namespace kestrel::common {

// The text converted from the OEM code page to the ANSI code page, byte for byte
// (both are single-byte here), zero bytes included.
std::string OemToAnsi(std::string_view text);

}  // namespace kestrel::common
