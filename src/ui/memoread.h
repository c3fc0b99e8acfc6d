#pragma once

#include <cstdint>
#include <string>

namespace kestrel::ui {

// The whole content of an existing file, read in one piece (base/whole_file.h). The
// file stays open to other readers and writers meanwhile. A final end-of-file mark
// (1Ah) is dropped, once. A missing, locked, unreadable, empty or too large file (over
// the platform's 32-bit file size) gives "": callers cannot tell these apart and treat
// them alike.
std::string MEMOREAD(const std::string& path);

// MEMOREAD with another size limit, so that the "too large" path can be exercised.
std::string MemoreadUpTo(const std::string& path, std::uint64_t max_bytes);

}  // namespace kestrel::ui
