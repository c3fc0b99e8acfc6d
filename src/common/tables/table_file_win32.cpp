// TableFile over Win32 file handles.
//
// Windows itself gives the sharing the table layer relies on: the share mode of
// CreateFileA refuses conflicting opens with ERROR_SHARING_VIOLATION, and LockFileEx
// with LOCKFILE_FAIL_IMMEDIATELY refuses an overlapping range at once, whichever
// handle (in this process or another) holds it. So this file only translates: every
// failure answers GetLastError() as it is. Handles are synchronous; reads and writes
// name their offset in an OVERLAPPED, so no call depends on a shared file pointer.
#include "common/tables/table_file.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "base/unique_handle_win32.h"

namespace kestrel::common {

namespace {

using base::UniqueHandle;

// One call moves at most this many bytes; larger spans take several.
constexpr std::size_t kMaxChunk = 1u << 30;

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

DWORD Low(std::uint64_t value) {
    return static_cast<DWORD>(value & 0xFFFFFFFFu);
}

DWORD High(std::uint64_t value) {
    return static_cast<DWORD>(value >> 32);
}

DWORD Chunk(std::size_t remaining) {
    return static_cast<DWORD>(std::min(remaining, kMaxChunk));
}

int LastError() {
    return static_cast<int>(GetLastError());
}

class Win32TableFile final : public TableFile {
  public:
    explicit Win32TableFile(UniqueHandle handle) : handle_(std::move(handle)) {}

    int Read(std::uint64_t offset, std::span<unsigned char> into, std::size_t& count) override {
        count = 0;
        while (count < into.size()) {
            OVERLAPPED position = At(offset + count);
            DWORD got = 0;
            if (!ReadFile(handle_.get(), into.data() + count, Chunk(into.size() - count), &got,
                          &position)) {
                const int error = LastError();
                return error == ERROR_HANDLE_EOF ? 0 : error;
            }
            if (got == 0) {
                return 0;  // the end of the file
            }
            count += got;
        }
        return 0;
    }

    int Write(std::uint64_t offset, std::span<const unsigned char> from) override {
        std::size_t done = 0;
        while (done < from.size()) {
            OVERLAPPED position = At(offset + done);
            DWORD put = 0;
            if (!WriteFile(handle_.get(), from.data() + done, Chunk(from.size() - done), &put,
                           &position)) {
                return LastError();
            }
            if (put == 0) {
                return ERROR_WRITE_FAULT;
            }
            done += put;
        }
        return 0;
    }

    int Size(std::uint64_t& size) override {
        LARGE_INTEGER bytes{};
        if (!GetFileSizeEx(handle_.get(), &bytes)) {
            return LastError();
        }
        size = static_cast<std::uint64_t>(std::max<LONGLONG>(bytes.QuadPart, 0));
        return 0;
    }

    int Flush() override { return FlushFileBuffers(handle_.get()) ? 0 : LastError(); }

    int Truncate(std::uint64_t size) override {
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
        return SetFileInformationByHandle(handle_.get(), FileEndOfFileInfo, &end, sizeof end)
                   ? 0
                   : LastError();
    }

    bool TryLock(std::uint64_t offset, std::uint64_t length) override {
        if (length == 0) {
            return true;  // an empty range holds nothing and conflicts with nothing
        }
        OVERLAPPED position = At(offset);
        return LockFileEx(handle_.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                          Low(length), High(length), &position) != FALSE;
    }

    void Unlock(std::uint64_t offset, std::uint64_t length) override {
        if (length == 0) {
            return;
        }
        OVERLAPPED position = At(offset);
        UnlockFileEx(handle_.get(), 0, Low(length), High(length), &position);
    }

  private:
    UniqueHandle handle_;
};

OpenedFile Opened(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) {
        return {nullptr, LastError()};
    }
    return {std::make_unique<Win32TableFile>(UniqueHandle(handle)), 0};
}

}  // namespace

OpenedFile OpenTableFile(const std::string& path, FileAccess access, FileShare share) {
    const DWORD rights =
        GENERIC_READ | (access == FileAccess::kReadWrite ? GENERIC_WRITE : DWORD{0});
    const DWORD sharing = share == FileShare::kShared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    return Opened(CreateFileA(path.c_str(), rights, sharing, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
}

OpenedFile CreateTableFile(const std::string& path, bool replace) {
    return Opened(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              replace ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
}

bool TableFileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

int RemoveTableFile(const std::string& path) {
    return DeleteFileA(path.c_str()) ? 0 : LastError();
}

int RenameTableFile(const std::string& from, const std::string& to) {
    // No MOVEFILE_COPY_ALLOWED: across volumes that would copy and delete, not replace
    // in one step.
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : LastError();
}

int CopyTableFile(const std::string& from, const std::string& to) {
    return CopyFileA(from.c_str(), to.c_str(), FALSE) ? 0 : LastError();
}

}  // namespace kestrel::common
