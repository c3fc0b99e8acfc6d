#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::app {

// Why a tape file is not served. The reason is one English phrase without the
// offset ("unsupported TZX block 11h (turbo speed data)"); DescribeRefusal adds it.
struct TapeRefusal {
    std::string reason;
    std::size_t offset = 0;  // in the file: where the refused block or the fault starts
    int block_id = -1;       // the TZX block's ID, or -1 when the fault is not one block's
};

// What a tape file gives the tape image: the TAP bytes to serve, or why it is refused
// (and then no bytes).
struct TapeLoad {
    std::string image;
    std::optional<TapeRefusal> refusal;
    // False when the file could not be read at all; the image is then empty, which
    // the Windows tool serves as an empty tape.
    bool readable = true;
};

// A TZX file begins with the seven letters "ZXTape!" (then 1Ah and two version
// bytes). A file that begins so is read as TZX even when the rest of its header is
// damaged, so that the damage is reported instead of served as a TAP file.
inline constexpr std::string_view kTzxSignature{"ZXTape!\x1A", 8};
bool IsTzx(std::string_view file_bytes);

// The TAP bytes a TZX file is equivalent to. Only standard-speed data blocks (10h)
// carry tape data; each becomes a TAP block: its length word, then its bytes, flag
// and checksum included. Blocks that only describe the tape or shape its silence
// (pauses, groups, texts, archive and hardware information, glue, the signal
// level, a loop with no data in it) are passed over. Everything else, from other
// encodings of data to the blocks that change the order in which blocks play, is
// refused, as is a file whose structure does not hold: a bad signature, a major
// version other than 1, a block running past the end of the file.
//
// Every block is read by its own length rule, checked against what is left of the
// file before any of its bytes is read, and the reading moves on by at least the
// ID byte each time, so any bytes at all end in an image or a refusal.
TapeLoad TzxToTap(std::string_view tzx_bytes);

// The block's name as the TZX format calls it ("standard speed data", "turbo speed
// data", ...), or "unknown block" for an ID the format does not define.
std::string_view TzxBlockName(int block_id);

// The refusal as one English line: "unsupported TZX block 11h (turbo speed data) at
// offset 1234".
std::string DescribeRefusal(const TapeRefusal& refusal);

}  // namespace kestrel::app
