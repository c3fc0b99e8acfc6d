#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel::base {

// The largest file read whole: the 32-bit file size of the platform the tool was
// made for. Anything larger reads as unreadable rather than exhausting memory.
inline constexpr std::uint64_t kWholeFileMaxBytes = 0xFFFFFFFFu;

// The end-of-file mark (1Ah) that may close a text-era file.
inline constexpr char kEndOfFileMark = 0x1A;

enum class EndOfFileMark {
    kKeep,  // a format in which a final 1Ah is content
    kDrop,  // one final 1Ah is no part of the file's bytes
};

// The whole content of an existing file, read in one piece, the file staying open to
// other readers and writers meanwhile; with kDrop, less one final end-of-file mark
// (only that one byte is ever dropped, and the rest is read only after it is known).
// Empty when the file is missing, locked, unreadable, not a plain file, larger than
// `max_bytes` or too large for memory; "" for an empty file.
std::optional<std::string> ReadWholeFile(const std::string& path,
                                         EndOfFileMark end_mark = EndOfFileMark::kKeep,
                                         std::uint64_t max_bytes = kWholeFileMaxBytes);

// The bytes without one final end-of-file mark.
std::string DropEndOfFileMark(std::string bytes);

}  // namespace kestrel::base
