// TableFile over POSIX descriptors, for the native build and its tests.
//
// The table layer expects Windows' sharing rules, and two POSIX mechanisms give them:
// - share modes are flock(2) locks taken without waiting right after the open. A flock
//   belongs to the open file description, so two opens in one process conflict just
//   as two handles do on Windows;
// - byte-range locks are open-file-description locks (F_OFD_SETLK) for the same
//   reason: classic fcntl locks belong to the process, so a second open in the same
//   process would never see the first one's lock, and closing any descriptor of the
//   file would drop them all. Where OFD locks do not exist (macOS) the classic ones
//   are the fallback, with those two limits.
// Windows also refuses an exclusive lock that overlaps one the same handle already
// holds, and unlocks only ranges locked exactly; POSIX would merge and split the
// ranges instead. Each open therefore keeps the ranges it holds and applies Windows'
// rule itself (one thread uses an open at a time, as the table layer does).
// POSIX grants an exclusive range lock only to a descriptor open for writing, so a
// read-only open asks for read-write access when the file allows it and refuses
// writes itself; on a file it may only read, its locks are shared read locks, which
// still conflict with every writer's lock.
// Errors are errno values translated to the Windows codes of table_file.h.
#include "common/tables/table_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <utility>
#include <vector>

#include "base/eintr_posix.h"
#include "base/unique_fd_posix.h"

namespace kestrel::common {

namespace {

using base::UniqueFd;

constexpr int kOsIoDevice = 1117;     // ERROR_IO_DEVICE: any failure without a closer code
constexpr int kOsNotSameDevice = 17;  // ERROR_NOT_SAME_DEVICE: a rename across volumes

#ifdef F_OFD_SETLK
constexpr int kSetLock = F_OFD_SETLK;
#else
constexpr int kSetLock = F_SETLK;
#endif

int WindowsError(int posix_error) {
    switch (posix_error) {
        case ENOENT:
            return errors::kOsFileNotFound;
        case ENOTDIR:
            return errors::kOsPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:  // Windows refuses to open a folder as a file the same way
            return errors::kOsAccessDenied;
        case EROFS:
            return errors::kOsWriteProtected;
        case EEXIST:
            return errors::kOsFileExists;
        case ENOSPC:
        case EDQUOT:
            return errors::kOsDiskFull;
        default:
            return kOsIoDevice;
    }
}

int LastError() {
    return WindowsError(errno);
}

// The error of a call that named `path`: as on Windows, a missing folder on the way
// is "path not found" and only a missing last name is "file not found".
int PathError(int error, const std::string& path) {
    if (error == ENOENT) {
        const auto slash = path.find_last_of('/');
        struct stat info {};
        if (slash != std::string::npos && slash != 0 &&
            ::stat(path.substr(0, slash).c_str(), &info) != 0) {
            return errors::kOsPathNotFound;
        }
    }
    return WindowsError(error);
}

// The descriptor, or none and the Windows error code that kept it shut in `error`.
UniqueFd OpenFd(const std::string& path, int flags, int& error, mode_t mode = 0) {
    UniqueFd fd(base::OpenRetrying(path.c_str(), flags | O_CLOEXEC, mode));
    error = fd ? 0 : PathError(errno, path);
    return fd;
}

// A folder opens read-only on POSIX, never on Windows.
int RefuseFolder(const UniqueFd& fd) {
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return LastError();
    }
    return S_ISDIR(info.st_mode) ? errors::kOsAccessDenied : 0;
}

// The share mode, claimed without waiting.
int ClaimShare(const UniqueFd& fd, FileShare share) {
    const int operation = (share == FileShare::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    if (base::FlockRetrying(fd.get(), operation) == 0) {
        return 0;
    }
    return errno == EWOULDBLOCK ? errors::kOsSharingViolation : LastError();
}

bool FitsOffset(std::uint64_t offset) {
    return offset <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
}

struct Range {
    std::uint64_t offset;
    std::uint64_t length;
    bool Overlaps(const Range& other) const {
        return offset < other.offset + other.length && other.offset < offset + length;
    }
    friend bool operator==(const Range&, const Range&) = default;
};

class PosixTableFile final : public TableFile {
  public:
    PosixTableFile(UniqueFd fd, bool writable, bool lockable)
        : fd_(std::move(fd)), writable_(writable), lockable_(lockable) {}

    int Read(std::uint64_t offset, std::span<unsigned char> into, std::size_t& count) override {
        count = 0;
        while (count < into.size()) {
            if (!FitsOffset(offset + count)) {
                return kOsIoDevice;
            }
            const ssize_t got =
                base::PreadRetrying(fd_.get(), into.data() + count, into.size() - count,
                                    static_cast<off_t>(offset + count));
            if (got < 0) {
                return LastError();
            }
            if (got == 0) {
                return 0;  // the end of the file
            }
            count += static_cast<std::size_t>(got);
        }
        return 0;
    }

    int Write(std::uint64_t offset, std::span<const unsigned char> from) override {
        if (!writable_) {
            return errors::kOsAccessDenied;
        }
        std::size_t done = 0;
        while (done < from.size()) {
            if (!FitsOffset(offset + done)) {
                return errors::kOsDiskFull;
            }
            const ssize_t put =
                base::PwriteRetrying(fd_.get(), from.data() + done, from.size() - done,
                                     static_cast<off_t>(offset + done));
            if (put <= 0) {
                return put < 0 ? LastError() : kOsIoDevice;
            }
            done += static_cast<std::size_t>(put);
        }
        return 0;
    }

    int Size(std::uint64_t& size) override {
        struct stat info {};
        if (::fstat(fd_.get(), &info) != 0) {
            return LastError();
        }
        size = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
        return 0;
    }

    int Flush() override {
        if (!writable_) {
            return errors::kOsAccessDenied;  // as FlushFileBuffers on a handle without write access
        }
        return base::FsyncRetrying(fd_.get()) == 0 ? 0 : LastError();
    }

    int Truncate(std::uint64_t size) override {
        if (!writable_) {
            return errors::kOsAccessDenied;
        }
        if (!FitsOffset(size)) {
            return errors::kOsDiskFull;
        }
        return base::FtruncateRetrying(fd_.get(), static_cast<off_t>(size)) == 0 ? 0 : LastError();
    }

    bool TryLock(std::uint64_t offset, std::uint64_t length) override {
        const Range range{offset, length};
        if (length == 0) {
            return true;  // an empty range holds nothing and conflicts with nothing
        }
        if (length > std::numeric_limits<std::uint64_t>::max() - offset ||
            !FitsOffset(offset + length - 1)) {
            return false;
        }
        if (std::any_of(held_.begin(), held_.end(),
                        [&](const Range& other) { return other.Overlaps(range); })) {
            return false;
        }
        if (!SetLock(range, lockable_ ? F_WRLCK : F_RDLCK)) {
            return false;
        }
        held_.push_back(range);
        return true;
    }

    void Unlock(std::uint64_t offset, std::uint64_t length) override {
        const auto held = std::find(held_.begin(), held_.end(), Range{offset, length});
        if (held == held_.end()) {
            return;  // not a range this open locked
        }
        SetLock(*held, F_UNLCK);
        held_.erase(held);
    }

  private:
    bool SetLock(const Range& range, short type) {
        struct flock lock {};
        lock.l_type = type;
        lock.l_whence = SEEK_SET;
        lock.l_start = static_cast<off_t>(range.offset);
        lock.l_len = static_cast<off_t>(range.length);
        lock.l_pid = 0;  // required by open-file-description locks
        return base::FcntlLockRetrying(fd_.get(), kSetLock, &lock) == 0;
    }

    UniqueFd fd_;
    bool writable_;  // the caller asked for read-write access
    bool lockable_;  // the descriptor is open for writing: its range locks are exclusive
    std::vector<Range> held_;
};

// The descriptor for `access`: read-only access asks for writing too when the file
// allows it (see the top of the file), and falls back to reading only.
UniqueFd OpenForAccess(const std::string& path, FileAccess access, bool& lockable, int& error) {
    UniqueFd fd = OpenFd(path, O_RDWR, error);
    lockable = static_cast<bool>(fd);
    if (access == FileAccess::kReadOnly && !fd) {
        fd = OpenFd(path, O_RDONLY, error);  // its error, if any, is the one to report
    }
    return fd;
}

OpenedFile Opened(UniqueFd fd, bool writable, bool lockable) {
    return {std::make_unique<PosixTableFile>(std::move(fd), writable, lockable), 0};
}

OpenedFile Failed(int error) {
    return {nullptr, error};
}

// `to` open for writing, emptied, and held exclusively: `to` is created when missing
// and refused when it exists and `replace` is false.
// On failure, none and the Windows error code in `error`.
UniqueFd ReplaceableTarget(const std::string& path, bool replace, int& error) {
    UniqueFd fd = OpenFd(path, O_RDWR | O_CREAT | (replace ? 0 : O_EXCL), error, 0666);
    if (!fd) {
        return fd;
    }
    // Claimed before emptying, so a file another open holds keeps its bytes.
    if (error = ClaimShare(fd, FileShare::kExclusive); error != 0) {
        return UniqueFd();
    }
    if (base::FtruncateRetrying(fd.get(), 0) != 0) {
        error = LastError();
        return UniqueFd();
    }
    return fd;
}

int CopyBytes(const UniqueFd& from, const UniqueFd& to) {
    std::array<unsigned char, 64 * 1024> buffer{};
    for (;;) {
        const ssize_t got = base::ReadRetrying(from.get(), buffer.data(), buffer.size());
        if (got <= 0) {
            return got < 0 ? LastError() : 0;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = base::WriteRetrying(to.get(), buffer.data() + done,
                                                    static_cast<std::size_t>(got - done));
            if (put <= 0) {
                return put < 0 ? LastError() : kOsIoDevice;
            }
            done += put;
        }
    }
}

}  // namespace

OpenedFile OpenTableFile(const std::string& path, FileAccess access, FileShare share) {
    bool lockable = false;
    int error = 0;
    UniqueFd fd = OpenForAccess(path, access, lockable, error);
    if (!fd) {
        return Failed(error);
    }
    if (error = RefuseFolder(fd); error != 0) {
        return Failed(error);
    }
    if (error = ClaimShare(fd, share); error != 0) {
        return Failed(error);
    }
    return Opened(std::move(fd), access == FileAccess::kReadWrite, lockable);
}

OpenedFile CreateTableFile(const std::string& path, bool replace) {
    int error = 0;
    UniqueFd created = ReplaceableTarget(path, replace, error);
    if (!created) {
        return Failed(error);
    }
    return Opened(std::move(created), true, true);
}

bool TableFileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

int RemoveTableFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? 0 : PathError(errno, path);
}

int RenameTableFile(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        if (error == EXDEV) {
            return kOsNotSameDevice;  // a copy across file systems is no rename
        }
        // A missing name is either the file moved or the folder it moves to.
        return PathError(error, TableFileExists(from) ? to : from);
    }
    // The new name is on the disk once its folder is.
    const std::size_t slash = to.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : to.substr(0, slash + 1);
    int error = 0;
    const UniqueFd directory = OpenFd(folder, O_RDONLY | O_DIRECTORY, error);
    if (directory && base::FsyncRetrying(directory.get()) != 0) {
        return LastError();
    }
    return 0;
}

int CopyTableFile(const std::string& from, const std::string& to) {
    int error = 0;
    const UniqueFd source = OpenFd(from, O_RDONLY, error);
    if (!source) {
        return error;
    }
    if (error = RefuseFolder(source); error != 0) {
        return error;
    }
    if (error = ClaimShare(source, FileShare::kShared); error != 0) {
        return error;
    }
    // The target is emptied only once held exclusively, so a copy onto the source
    // itself, or onto a file someone holds, fails with a sharing violation and erases
    // nothing.
    const UniqueFd target = ReplaceableTarget(to, true, error);
    if (!target) {
        return error;
    }
    return CopyBytes(source, target);
}

}  // namespace kestrel::common
