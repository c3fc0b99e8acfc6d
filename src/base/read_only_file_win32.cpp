// ReadOnlyFile over Win32 file handles.
#include "base/read_only_file.h"

#include <windows.h>

#include <algorithm>

#include "base/unique_handle_win32.h"

namespace kestrel::base {

struct ReadOnlyFile::Handle {
    UniqueHandle file;
};

ReadOnlyFile::ReadOnlyFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&&) noexcept = default;
ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&&) noexcept = default;
ReadOnlyFile::~ReadOnlyFile() = default;

std::optional<ReadOnlyFile> ReadOnlyFile::Open(const std::string& path) {
    // Others may keep reading and writing the file while we hold it.
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::nullopt;
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        return std::nullopt;  // a device or a pipe is not a file to read whole
    }
    return ReadOnlyFile(std::make_unique<Handle>(Handle{std::move(file)}));
}

std::optional<std::uint64_t> ReadOnlyFile::Size() const {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle_->file.get(), &size) || size.QuadPart < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

bool ReadOnlyFile::ReadAt(std::uint64_t offset, char* out, std::size_t count) const {
    while (count > 0) {
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        position.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(handle_->file.get(), out, chunk, &got, &position) || got == 0) {
            return false;  // an error, or the file shrank under us
        }
        out += got;
        offset += got;
        count -= got;
    }
    return true;
}

}  // namespace kestrel::base
