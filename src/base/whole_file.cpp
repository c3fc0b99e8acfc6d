#include "base/whole_file.h"

#include <limits>
#include <new>
#include <stdexcept>

#include "base/read_only_file.h"

namespace kestrel::base {

std::optional<std::string> ReadWholeFile(const std::string& path, EndOfFileMark end_mark,
                                         std::uint64_t max_bytes) {
    std::optional<ReadOnlyFile> file = ReadOnlyFile::Open(path);
    if (!file) {
        return std::nullopt;
    }
    std::optional<std::uint64_t> size = file->Size();
    if (!size || *size > max_bytes || *size > std::numeric_limits<std::size_t>::max()) {
        return std::nullopt;
    }
    if (*size == 0) {
        return std::string();
    }

    if (end_mark == EndOfFileMark::kDrop) {
        char last = 0;
        if (!file->ReadAt(*size - 1, &last, 1)) {
            return std::nullopt;
        }
        if (last == kEndOfFileMark) {
            --*size;  // only this one byte is ever dropped
        }
    }

    std::string bytes;
    try {
        bytes.resize(static_cast<std::size_t>(*size));
    } catch (const std::bad_alloc&) {
        return std::nullopt;  // too large to hold in memory: as unreadable as a missing file
    } catch (const std::length_error&) {
        return std::nullopt;
    }
    if (!bytes.empty() && !file->ReadAt(0, bytes.data(), bytes.size())) {
        return std::nullopt;
    }
    return bytes;
}

std::string DropEndOfFileMark(std::string bytes) {
    if (!bytes.empty() && bytes.back() == kEndOfFileMark) {
        bytes.pop_back();
    }
    return bytes;
}

}  // namespace kestrel::base
