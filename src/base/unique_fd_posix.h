#pragma once

#include <unistd.h>

#include <utility>

namespace kestrel::base {

// Owns one POSIX file descriptor (a file, a tty, a socket, a pipe's end) and closes
// it once, unless it is handed on with release(). A negative value is no descriptor.
// close() is not retried after EINTR: on Linux the descriptor is gone by then, and a
// second close could close a descriptor that another thread has just been given.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    // The descriptor, which the caller now owns; this object owns none.
    int release() { return std::exchange(fd_, -1); }

    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

}  // namespace kestrel::base
