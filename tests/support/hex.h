#pragma once

#include <string>
#include <string_view>

namespace kestrel::testing {

// Bytes as hex digits, two a byte, upper case, nothing between them ("0A1B"): how the
// tests write the bytes they compare and the probes report.
inline std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out.push_back(kDigits[byte >> 4]);
        out.push_back(kDigits[byte & 0x0F]);
    }
    return out;
}

}  // namespace kestrel::testing
