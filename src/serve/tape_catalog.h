#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::serve {

// How an entry's two blocks stand against their own flag bytes and checksums.
enum class BlockCheck {
    kOk,     // both blocks complete, each XOR checksum right
    kBad,    // complete, but a checksum is wrong
    kShort,  // the file ends inside the entry
};

// One entry of a tape as the server serves it: a header block and the data block that
// follows it, where the tape image finds them (it reads only the header's data length
// N to find the next entry), and what the blocks say of themselves.
struct CatalogEntry {
    std::size_t offset = 0;  // where the entry starts in the whole image
    std::size_t size = 0;    // 25 + N: the bytes it spans, if the file holds them all
    std::uint8_t type = 0;
    std::string name;  // the 10 stored bytes, as they are
    std::uint16_t length = 0;
    std::uint16_t param1 = 0;
    std::uint16_t param2 = 0;
    std::uint8_t header_flag = 0;  // a header block's flag is 00h
    std::uint8_t data_flag = 0;    // a data block's is FFh (or a loader's own)
    BlockCheck check = BlockCheck::kOk;
    // What the structure check found, in a few words ("the data block is 12 bytes,
    // its header says 300"); empty when the blocks pair as they should.
    std::string problem;
};

// A tape image's entries, checked. The remote gets the image's bytes whatever the
// checks say; they are there to tell the user before a load goes wrong.
struct TapeCatalog {
    std::vector<CatalogEntry> entries;
    // Where the end of the tape stands: past this, the next request gets the end byte.
    std::size_t end_offset = 0;
    // Set when the file is not a tape at all ("gzip data", "zip data", "the first
    // block is not a header"); empty for a tape.
    std::string not_a_tape;

    std::size_t CountWith(BlockCheck check) const;
    std::size_t CountWithProblems() const;
};

// Walks the image from its first byte as the tape image serves it, entry by entry,
// checking each.
TapeCatalog CatalogTape(std::string_view image);

// A stored name as a terminal may show it: trailing blanks removed, every byte that
// is not printable ASCII (and the backslash itself) as \xNN.
std::string ShownName(std::string_view stored_name);

// "ok", "bad" or "short".
std::string_view CheckWord(BlockCheck check);

}  // namespace kestrel::serve
