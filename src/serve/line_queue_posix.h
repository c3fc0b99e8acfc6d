#pragma once

#include <string>
#include <string_view>

namespace kestrel::serve {

// What the machine still holds of the bytes written to the line, and how to wait
// for the last of them: the one place where a serial device and a network
// connection differ once they are open. A write is complete when its bytes have left
// the machine, so that a pause after it is silence on the wire.
class LineQueue {
  public:
    virtual ~LineQueue() = default;

    // Bytes written to `fd` and not yet sent; 0 when it cannot be told.
    virtual int Unsent(int fd) const = 0;
    // With no more than this many unsent, WaitOut() may wait for them at once.
    virtual int WaitOutBytes() const = 0;
    // Waits until what is left has gone; empty when it has, else the failure.
    virtual std::string WaitOut(int fd) const = 0;
    // Why the line is lost when the other side ends it.
    virtual std::string_view HangUpCause() const = 0;
};

// A tty: the driver's queue (TIOCOUTQ), then tcdrain() for the last few
// milliseconds' worth, which also waits out the adapter's own buffer.
const LineQueue& SerialQueue();

// A TCP socket: the bytes the kernel has not yet sent (SIOCOUTQNSD on Linux; sent
// bytes that wait for the other end's acknowledgement are gone as far as the line
// is concerned). Where that cannot be asked, bytes count as sent once written.
// tcdrain() does not work on a socket.
const LineQueue& SocketQueue();

}  // namespace kestrel::serve
