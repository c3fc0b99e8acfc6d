#include "serve/tape_catalog.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "app/tape_image.h"

namespace kestrel::serve {
namespace {

// A TAP block as a file stores it: a little-endian length word, then the block
// itself (flag byte, payload, XOR checksum). An entry's header block is 19 bytes
// long with flag 00h; its data block N + 2 bytes.
constexpr std::size_t kHeaderBlockLength = 19;
constexpr std::size_t kHeaderBlockAt = 2;
constexpr std::size_t kDataWordAt = 21;
constexpr std::size_t kDataBlockAt = 23;
constexpr std::uint8_t kHeaderFlag = 0x00;

std::uint16_t WordIn(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) {
        return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u;
    };
    return static_cast<std::uint16_t>(byte(at) | (byte(at + 1) << 8));
}

// A block whose bytes (flag and checksum included) XOR to zero is as it was saved.
bool ChecksumRight(std::string_view block) {
    const unsigned folded = std::accumulate(
        block.begin(), block.end(), 0u,
        [](unsigned sum, char byte) { return sum ^ static_cast<unsigned char>(byte); });
    return folded == 0;
}

std::string Describe(std::string_view rest, std::uint16_t length) {
    const std::uint16_t header_word = WordIn(rest, 0);
    const auto header_flag = static_cast<unsigned char>(rest.size() > 2 ? rest[2] : 0);
    if (header_word != kHeaderBlockLength || header_flag != kHeaderFlag) {
        return "a block of " + std::to_string(header_word) + " bytes without a header";
    }
    if (rest.size() < kDataBlockAt) {
        return "the file ends in the header";
    }
    const std::size_t data_block = WordIn(rest, kDataWordAt);
    const std::size_t said = std::size_t{length} + 2;
    if (data_block != said) {
        return "the data block is " + std::to_string(data_block >= 2 ? data_block - 2 : 0) +
               " bytes, its header says " + std::to_string(length);
    }
    const std::size_t size = app::tap::kEntryOverhead + length;
    if (rest.size() < size) {
        return "the file ends " + std::to_string(size - rest.size()) +
               " bytes before the entry does";
    }
    return {};
}

CatalogEntry Check(std::string_view image, std::size_t offset) {
    const std::string_view rest = image.substr(offset);
    app::TapeImage reader{std::string(rest.substr(0, app::tap::kData))};
    const app::TapeEntry front = reader.Front();

    CatalogEntry entry;
    entry.offset = offset;
    entry.type = front.type;
    entry.name = std::string(front.name);
    entry.length = front.length;
    entry.param1 = front.param1;
    entry.param2 = front.param2;
    entry.size = app::tap::kEntryOverhead + front.length;
    const auto byte = [&](std::size_t at) {
        return static_cast<std::uint8_t>(at < rest.size() ? rest[at] : 0);
    };
    entry.header_flag = byte(kHeaderBlockAt);
    entry.data_flag = byte(kDataBlockAt);
    entry.problem = Describe(rest, front.length);
    if (rest.size() < entry.size) {
        entry.check = BlockCheck::kShort;
    } else if (!ChecksumRight(rest.substr(kHeaderBlockAt, kHeaderBlockLength)) ||
               !ChecksumRight(rest.substr(kDataBlockAt, std::size_t{front.length} + 2))) {
        entry.check = BlockCheck::kBad;
    }
    return entry;
}

std::string NotATape(std::string_view image, const std::vector<CatalogEntry>& entries) {
    if (image.starts_with("\x1f\x8b")) {
        return "gzip data";
    }
    if (image.starts_with("PK\x03\x04") || image.starts_with("PK\x05\x06")) {
        return "zip data";
    }
    if (!entries.empty() &&
        (WordIn(image, 0) != kHeaderBlockLength || entries.front().header_flag != kHeaderFlag)) {
        return "the first block is not a header";
    }
    return {};
}

}  // namespace

TapeCatalog CatalogTape(std::string_view image) {
    // The same walk as the tape image's: an entry at the front, the next 25 + N
    // bytes on, until what is left is blank.
    TapeCatalog catalog;
    app::TapeImage walk{std::string(image)};
    while (!walk.IsExhausted()) {
        catalog.entries.push_back(Check(image, walk.Position()));
        walk.DropFront();
    }
    catalog.end_offset = walk.Position();
    catalog.not_a_tape = NotATape(image, catalog.entries);
    return catalog;
}

std::size_t TapeCatalog::CountWith(BlockCheck check) const {
    return static_cast<std::size_t>(std::count_if(
        entries.begin(), entries.end(), [check](const auto& e) { return e.check == check; }));
}

std::size_t TapeCatalog::CountWithProblems() const {
    return static_cast<std::size_t>(std::count_if(
        entries.begin(), entries.end(), [](const auto& e) { return !e.problem.empty(); }));
}

std::string ShownName(std::string_view stored_name) {
    while (!stored_name.empty() && stored_name.back() == ' ') {
        stored_name.remove_suffix(1);
    }
    std::string shown;
    for (const char c : stored_name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        } else {
            shown.push_back(c);
        }
    }
    return shown;
}

std::string_view CheckWord(BlockCheck check) {
    switch (check) {
        case BlockCheck::kOk:
            return "ok";
        case BlockCheck::kBad:
            return "bad";
        case BlockCheck::kShort:
            return "short";
    }
    return "?";
}

}  // namespace kestrel::serve
