#pragma once

#include <poll.h>

#include <span>

namespace kestrel::serial {

// poll() over the descriptors, `timeout_ms` -1 waiting for as long as it takes; the
// number of descriptors with events, 0 on time-out, -1 with errno set. A signal does
// not end the wait: it goes on towards the same deadline, so a caller that wants to
// hear of signals keeps the read end of a signal pipe among the descriptors.
//
// On macOS, poll() does not support devices (its manual says so: a tty gets POLLNVAL),
// so there the same wait is made with select(), which does: POLLIN and POLLOUT map to
// the readable and writable sets. A hang-up then shows as readable, and the read that
// follows finds it (end of file or an error), so callers must not rely on POLLHUP.
int WaitReady(std::span<pollfd> fds, int timeout_ms);

}  // namespace kestrel::serial
