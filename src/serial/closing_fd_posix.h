#pragma once

#include <unistd.h>

#include <utility>

namespace kestrel::serial {

// Closes a descriptor unless it is handed on (release): the owner of a line while
// it is being opened, so a failure half-way through never leaks it.
struct ClosingFd {
    int fd;
    explicit ClosingFd(int descriptor) : fd(descriptor) {}
    ClosingFd(const ClosingFd&) = delete;
    ClosingFd& operator=(const ClosingFd&) = delete;
    ~ClosingFd() {
        if (fd >= 0) {
            close(fd);
        }
    }
    int release() { return std::exchange(fd, -1); }
};

}  // namespace kestrel::serial
