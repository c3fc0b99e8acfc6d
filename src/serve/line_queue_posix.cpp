#include "serve/line_queue_posix.h"

#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstring>

#include "base/eintr_posix.h"

#ifdef __linux__
#include <linux/sockios.h>
#endif

namespace kestrel::serve {
namespace {

// Output left in a tty's queue that tcdrain() may wait for at once: about 6 ms of line.
constexpr int kDrainAtOnceBytes = 64;

class TtyQueue final : public LineQueue {
  public:
    int Unsent(int fd) const override {
        int queued = 0;
#ifdef TIOCOUTQ
        if (ioctl(fd, TIOCOUTQ, &queued) != 0) {
            queued = 0;  // not known: tcdrain() decides
        }
#else
        (void)fd;
#endif
        return queued;
    }
    int WaitOutBytes() const override {
        return kDrainAtOnceBytes;
    }
    std::string WaitOut(int fd) const override {
        if (base::TcdrainRetrying(fd) != 0) {
            return std::string("output failed: ") + std::strerror(errno);
        }
        return {};
    }
    std::string_view HangUpCause() const override {
        return "the device hung up";
    }
};

class TcpQueue final : public LineQueue {
  public:
    int Unsent(int fd) const override {
        int unsent = 0;
#ifdef SIOCOUTQNSD
        if (ioctl(fd, SIOCOUTQNSD, &unsent) != 0) {
            unsent = 0;
        }
#else
        (void)fd;
#endif
        return unsent;
    }
    int WaitOutBytes() const override {
        return 0;
    }
    std::string WaitOut(int) const override {
        return {};
    }
    std::string_view HangUpCause() const override {
        return "the other end closed the connection";
    }
};

}  // namespace

const LineQueue& SerialQueue() {
    static const TtyQueue queue;
    return queue;
}

const LineQueue& SocketQueue() {
    static const TcpQueue queue;
    return queue;
}

}  // namespace kestrel::serve
