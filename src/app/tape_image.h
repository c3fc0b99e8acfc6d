#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::app {

// One entry of the tape as the remote machine receives it: the fields of a 19-byte
// header block and the data of the block that follows it. The views point into the
// TapeImage and stay valid until the image is loaded again.
struct TapeEntry {
    std::uint8_t type = 0;
    std::string_view name;     // up to 10 bytes, padding blanks included
    std::uint16_t length = 0;  // N, the data length stored in the header
    std::uint16_t param1 = 0;
    std::uint16_t param2 = 0;
    std::string_view data;  // up to N bytes: only those the image holds
};

// Offsets of one entry, counted from the front of what is left of the tape. A TAP
// file stores each tape block as a little-endian length word followed by the block
// (flag byte, payload, checksum); an entry is a header block and its data block.
// The length words, flags and checksums are never read: only N decides where the
// next entry starts.
namespace tap {
inline constexpr std::size_t kType = 3;
inline constexpr std::size_t kName = 4;
inline constexpr std::size_t kNameLength = 10;
inline constexpr std::size_t kDataLength = 14;
inline constexpr std::size_t kParam1 = 16;
inline constexpr std::size_t kParam2 = 18;
inline constexpr std::size_t kData = 24;
inline constexpr std::size_t kEntryOverhead = 25;  // the next entry starts at 25 + N
}  // namespace tap

// What is left of the tape: loaded once from the whole file, then shortened from the
// front, one entry per request (a front end may also move the front back, MoveTo). The current
// entry is always the front.
//
// Reads at fixed offsets never fail: a byte beyond the end reads as 0, and a range
// yields only the bytes that exist. Shortening keeps the bytes where they are and
// moves the front, so taking an entry never copies the rest of the tape.
class TapeImage {
  public:
    TapeImage() = default;
    explicit TapeImage(std::string bytes) { Assign(std::move(bytes)); }

    // The image becomes these bytes (a tape file's, as LoadTapeFile gives them).
    void Assign(std::string bytes);

    // True when what is left is blank: empty, or only blanks, tabs, CR and LF.
    bool IsExhausted() const { return front_ >= content_end_; }

    // The entry at the front. The image is not changed.
    TapeEntry Front() const;

    // Cuts the front entry off: the image then begins at offset 25 + N.
    void DropFront();

    std::string_view Remaining() const;

    // Where the front stands, counted from the first byte of the whole image.
    std::size_t Position() const { return front_; }
    // The front moves to `position` of the whole image (at most its end): a front
    // end that lets its user choose the next entry moves it to where that entry
    // starts. The bytes stay as they are.
    void MoveTo(std::size_t position) {
        front_ = position < bytes_.size() ? position : bytes_.size();
    }

  private:
    std::uint8_t ByteAt(std::size_t offset) const;
    std::uint16_t WordAt(std::size_t offset) const;
    std::string_view RangeAt(std::size_t offset, std::size_t count) const;

    std::string bytes_;
    std::size_t front_ = 0;        // where what is left of the tape begins
    std::size_t content_end_ = 0;  // one past the last byte that is not blank
};

}  // namespace kestrel::app
