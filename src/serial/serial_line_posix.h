#pragma once

#include <termios.h>

#include <string>
#include <utility>
#include <variant>

#include "base/unique_fd_posix.h"

namespace kestrel::serial {

// A serial line of a POSIX system (a tty device: a USB adapter, a built-in port, a
// pseudo-terminal), opened for this program alone and set as the tape block server
// wants it: 115200 baud, 8 data bits, no parity, 2 stop bits, raw, no flow control,
// the modem lines ignored (CLOCAL), DTR and RTS raised.
//
// Exclusive use takes two locks, because each misses a case the other covers:
// TIOCEXCL makes the kernel refuse any further open of the tty (EBUSY), but not to
// root; flock(LOCK_EX) holds against every program that asks for the same lock,
// root included, but binds nobody who does not ask. A line is only configured once
// both are held, so a refused second opener never disturbs the holder's settings.
//
// The object owns the descriptor and the lock. Closing gives back what it changed
// (the tty's own settings and exclusive mode), after throwing away output still
// queued, if any: every completed write has left by then, so that is what a write
// given up left behind, and closing a tty with output queued on a line that stopped
// sending would wait for it (up to 30 s on Linux).
class SerialLine {
  public:
    enum class Failure {
        kMissing,    // no such device
        kBusy,       // another program holds it
        kNotSerial,  // not a tty (a regular file, /dev/null, ...)
        kOther,      // permission, configuration, ...
    };
    struct OpenError {
        Failure failure;
        std::string message;  // one line naming the device and the cause
    };

    // Opens and configures the line; the open line or why it could not be.
    static std::variant<SerialLine, OpenError> Open(const std::string& device);

    SerialLine(SerialLine&& other) noexcept;
    SerialLine& operator=(SerialLine&&) = delete;
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;
    ~SerialLine();

    int fd() const { return fd_.get(); }

  private:
    SerialLine(base::UniqueFd fd, const termios& saved) : fd_(std::move(fd)), saved_(saved) {}

    base::UniqueFd fd_;  // non-blocking, close-on-exec; none once moved from
    termios saved_{};    // the tty's settings before they were changed
};

}  // namespace kestrel::serial
