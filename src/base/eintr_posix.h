#pragma once

// The system calls that a signal may interrupt before they have done anything,
// called again until they have: each wrapper returns what the call returns, with
// errno set, but never fails with EINTR. A handler installed without SA_RESTART, or
// a call that SA_RESTART does not restart (poll, select), would otherwise make such
// a call fail for no reason of its own.
//
// Not here, on purpose: close() (see unique_fd_posix.h) and connect() (after EINTR
// the connection goes on being made; calling again would fail with EALREADY).

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>

namespace kestrel::base {

// `call()` again while it fails with EINTR.
template <typename Call>
auto RetryAfterSignal(Call call) {
    for (;;) {
        const auto result = call();
        if (result != -1 || errno != EINTR) {
            return result;
        }
    }
}

// `wait(timeout_ms)` again while it fails with EINTR, each time with what is left
// of the first timeout, so that a signal never lengthens nor shortens the wait
// (a negative timeout waits without limit, 0 only looks). For poll() and select().
template <typename Wait>
int WaitRetryingAfterSignal(int timeout_ms, Wait wait) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int left_ms = timeout_ms;
    for (;;) {
        const int result = wait(left_ms);
        if (result != -1 || errno != EINTR) {
            return result;
        }
        if (timeout_ms > 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            left_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
    }
}

inline int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
    return RetryAfterSignal([&] { return ::open(path, flags, mode); });
}

inline ssize_t ReadRetrying(int fd, void* into, std::size_t count) {
    return RetryAfterSignal([&] { return ::read(fd, into, count); });
}

inline ssize_t WriteRetrying(int fd, const void* from, std::size_t count) {
    return RetryAfterSignal([&] { return ::write(fd, from, count); });
}

inline ssize_t PreadRetrying(int fd, void* into, std::size_t count, off_t offset) {
    return RetryAfterSignal([&] { return ::pread(fd, into, count, offset); });
}

inline ssize_t PwriteRetrying(int fd, const void* from, std::size_t count, off_t offset) {
    return RetryAfterSignal([&] { return ::pwrite(fd, from, count, offset); });
}

inline int FlockRetrying(int fd, int operation) {
    return RetryAfterSignal([&] { return ::flock(fd, operation); });
}

// fcntl() with a lock record: F_SETLK, F_OFD_SETLK and their kin.
inline int FcntlLockRetrying(int fd, int command, struct flock* lock) {
    return RetryAfterSignal([&] { return ::fcntl(fd, command, lock); });
}

inline int FtruncateRetrying(int fd, off_t size) {
    return RetryAfterSignal([&] { return ::ftruncate(fd, size); });
}

inline int FsyncRetrying(int fd) {
    return RetryAfterSignal([&] { return ::fsync(fd); });
}

inline int TcdrainRetrying(int fd) {
    return RetryAfterSignal([&] { return ::tcdrain(fd); });
}

inline int TcsetattrRetrying(int fd, int when, const termios& settings) {
    return RetryAfterSignal([&] { return ::tcsetattr(fd, when, &settings); });
}

// poll() to the deadline of its first timeout.
inline int PollRetrying(pollfd* fds, nfds_t count, int timeout_ms) {
    return WaitRetryingAfterSignal(timeout_ms,
                                   [&](int left_ms) { return ::poll(fds, count, left_ms); });
}

}  // namespace kestrel::base
