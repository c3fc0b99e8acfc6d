#include "serial/wait_ready_posix.h"

#include "base/eintr_posix.h"

#if defined(__APPLE__)
#include <sys/select.h>
#endif

namespace kestrel::serial {

#if defined(__APPLE__)

namespace {

// One select(); the sets are made again for each, as select() leaves them undefined
// when a signal interrupts it.
int SelectOnce(std::span<pollfd> fds, int timeout_ms) {
    fd_set readable;
    fd_set writable;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    int highest = -1;
    for (pollfd& entry : fds) {
        entry.revents = 0;
        if (entry.fd < 0) {
            continue;
        }
        if (entry.events & POLLIN) {
            FD_SET(entry.fd, &readable);
        }
        if (entry.events & POLLOUT) {
            FD_SET(entry.fd, &writable);
        }
        highest = entry.fd > highest ? entry.fd : highest;
    }
    timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    const int result =
        select(highest + 1, &readable, &writable, nullptr, timeout_ms < 0 ? nullptr : &limit);
    if (result <= 0) {
        return result;
    }
    int ready = 0;
    for (pollfd& entry : fds) {
        if (entry.fd < 0) {
            continue;
        }
        if (FD_ISSET(entry.fd, &readable)) {
            entry.revents |= POLLIN;
        }
        if (FD_ISSET(entry.fd, &writable)) {
            entry.revents |= POLLOUT;
        }
        ready += entry.revents != 0 ? 1 : 0;
    }
    return ready;
}

}  // namespace

int WaitReady(std::span<pollfd> fds, int timeout_ms) {
    return base::WaitRetryingAfterSignal(timeout_ms,
                                         [fds](int left_ms) { return SelectOnce(fds, left_ms); });
}

#else

int WaitReady(std::span<pollfd> fds, int timeout_ms) {
    return base::PollRetrying(fds.data(), static_cast<nfds_t>(fds.size()), timeout_ms);
}

#endif

}  // namespace kestrel::serial
