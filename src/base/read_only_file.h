#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kestrel::base {

// An existing file opened for reading while other programs may go on reading and
// writing it. The platform's handle is owned here and closed on destruction.
// Implemented once per platform: read_only_file_win32.cpp, read_only_file_posix.cpp.
class ReadOnlyFile {
  public:
    // Empty when the file is missing, locked or cannot be opened for any reason.
    static std::optional<ReadOnlyFile> Open(const std::string& path);

    ReadOnlyFile(ReadOnlyFile&&) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&&) noexcept;
    ~ReadOnlyFile();

    // The file's size in bytes, or empty when the platform cannot tell.
    std::optional<std::uint64_t> Size() const;

    // Fills out[0, count) from the file's byte `offset` on; false unless all of it was read.
    bool ReadAt(std::uint64_t offset, char* out, std::size_t count) const;

  private:
    struct Handle;
    explicit ReadOnlyFile(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
};

}  // namespace kestrel::base
