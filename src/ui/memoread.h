#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel::ui {

// The largest file MEMOREAD takes whole: the platform's 32-bit file size. Anything
// larger reads as unreadable rather than exhausting memory.
inline constexpr std::uint64_t kMemoreadMaxBytes = 0xFFFFFFFFu;

// The whole content of an existing file, read in one piece. The file stays open to
// other readers and writers meanwhile. A final end-of-file mark (1Ah) is dropped,
// once. A missing, locked, unreadable, empty or too large file gives "": callers
// cannot tell these apart and treat them alike.
std::string MEMOREAD(const std::string& path);

// MEMOREAD with another size limit, so that the "too large" path can be exercised.
std::string MemoreadUpTo(const std::string& path, std::uint64_t max_bytes);

// MEMOREAD that keeps a final 1Ah, for formats in which that byte is content, and
// tells a file that cannot be read (empty) from an empty one ("").
std::optional<std::string> ReadWholeFile(const std::string& path);

// The bytes without one final end-of-file mark (1Ah), as MEMOREAD gives them.
std::string DropEndOfFileMark(std::string bytes);

}  // namespace kestrel::ui
