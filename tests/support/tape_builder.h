#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::testing {

// Well-formed TAP entries, as a tape recorder program would save them: a 19-byte
// header block (flag 00h) and a data block of N + 2 bytes (flag FFh), each with its
// little-endian length word and its XOR checksum.
struct EntryFields {
    std::uint8_t type = 3;
    std::string name = "HELLO";  // padded with blanks to 10 bytes
    std::string data;
    std::uint16_t param1 = 0;
    std::uint16_t param2 = 0;
};

inline std::string Word(std::uint16_t value) {
    return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

inline std::string Block(char flag, std::string_view payload) {
    std::string block(1, flag);
    block.append(payload);
    char checksum = 0;
    for (char byte : block) {
        checksum = static_cast<char>(checksum ^ byte);
    }
    block.push_back(checksum);
    return Word(static_cast<std::uint16_t>(block.size())) + block;
}

inline std::string PaddedName(std::string name) {
    name.resize(10, ' ');
    return name;
}

inline std::string TapEntry(const EntryFields& entry) {
    std::string header(1, static_cast<char>(entry.type));
    header += PaddedName(entry.name);
    header += Word(static_cast<std::uint16_t>(entry.data.size()));
    header += Word(entry.param1);
    header += Word(entry.param2);
    return Block('\x00', header) + Block('\xFF', entry.data);
}

// The 17 header bytes the remote machine receives for an entry.
inline std::string WireHeader(const EntryFields& entry) {
    return std::string(1, static_cast<char>(entry.type)) + PaddedName(entry.name) +
           Word(static_cast<std::uint16_t>(entry.data.size())) + Word(entry.param1) +
           Word(entry.param2);
}

inline std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        out.push_back(static_cast<char>(v));
    }
    return out;
}

}  // namespace kestrel::testing
