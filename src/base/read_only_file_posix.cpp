// ReadOnlyFile over POSIX file descriptors, for the native build and its tests.
#include "base/read_only_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <limits>

#include "base/eintr_posix.h"
#include "base/unique_fd_posix.h"

namespace kestrel::base {

struct ReadOnlyFile::Handle {
    UniqueFd fd;
};

ReadOnlyFile::ReadOnlyFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&&) noexcept = default;
ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&&) noexcept = default;
ReadOnlyFile::~ReadOnlyFile() = default;

std::optional<ReadOnlyFile> ReadOnlyFile::Open(const std::string& path) {
    UniqueFd fd(OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;  // a directory or a device is not a file to read whole
    }
    return ReadOnlyFile(std::make_unique<Handle>(Handle{std::move(fd)}));
}

std::optional<std::uint64_t> ReadOnlyFile::Size() const {
    struct stat info {};
    if (::fstat(handle_->fd.get(), &info) != 0 || info.st_size < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

bool ReadOnlyFile::ReadAt(std::uint64_t offset, char* out, std::size_t count) const {
    while (count > 0) {
        if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
            return false;
        }
        const ssize_t got =
            PreadRetrying(handle_->fd.get(), out, count, static_cast<off_t>(offset));
        if (got <= 0) {
            return false;  // an error, or the file shrank under us
        }
        out += got;
        offset += static_cast<std::uint64_t>(got);
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace kestrel::base
