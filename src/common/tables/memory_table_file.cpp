#include "common/tables/memory_table_file.h"

#include <algorithm>
#include <memory>

#include "errors/error_record.h"

namespace kestrel::common {

int MemoryTableFile::Read(std::uint64_t offset, std::span<unsigned char> into, std::size_t& count) {
    count = 0;
    if (offset >= bytes_.size()) {
        return 0;
    }
    const std::uint64_t left = bytes_.size() - offset;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(into.size(), left));
    const auto from = bytes_.begin() + static_cast<std::ptrdiff_t>(offset);
    std::copy(from, from + static_cast<std::ptrdiff_t>(count), into.begin());
    return 0;
}

int MemoryTableFile::Write(std::uint64_t offset, std::span<const unsigned char> from) {
    if (offset > kLimit || from.size() > kLimit - offset) {
        return errors::kOsDiskFull;
    }
    const std::uint64_t end = offset + from.size();
    if (end > bytes_.size()) {
        bytes_.resize(static_cast<std::size_t>(end), 0);
    }
    std::copy(from.begin(), from.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
    return 0;
}

int MemoryTableFile::Truncate(std::uint64_t size) {
    if (size > kLimit) {
        return errors::kOsDiskFull;
    }
    bytes_.resize(static_cast<std::size_t>(size), 0);
    return 0;
}

int MemoryTableFile::Size(std::uint64_t& size) {
    size = bytes_.size();
    return 0;
}

bool MemoryTableFile::TryLock(std::uint64_t offset, std::uint64_t length) {
    if (length == 0) {
        return true;
    }
    const auto overlaps = [&](const Range& other) {
        return offset < other.offset + other.length && other.offset < offset + length;
    };
    if (std::any_of(held_.begin(), held_.end(), overlaps)) {
        return false;
    }
    held_.push_back({offset, length});
    return true;
}

void MemoryTableFile::Unlock(std::uint64_t offset, std::uint64_t length) {
    const auto held = std::find(held_.begin(), held_.end(), Range{offset, length});
    if (held != held_.end()) {
        held_.erase(held);
    }
}

TableFileOpener MemoryFileOpener(MemoryFiles files) {
    return [files = std::move(files)](const std::string& path, FileAccess, FileShare) {
        const auto found = files.find(path);
        if (found == files.end()) {
            return OpenedFile{nullptr, errors::kOsFileNotFound};
        }
        return OpenedFile{std::make_unique<MemoryTableFile>(found->second), 0};
    };
}

}  // namespace kestrel::common
