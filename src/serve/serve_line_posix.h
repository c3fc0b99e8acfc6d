#pragma once

#include <cstdio>
#include <string>
#include <variant>

#include "serial/serial_line_posix.h"
#include "serve/line_queue_posix.h"
#include "serve/network_line_posix.h"
#include "serve/serve_options.h"

namespace kestrel::serve {

// The line a session serves over, however it was reached: a serial device
// (--port DEVICE), a connection to a serial-over-network bridge (--port
// tcp:HOST:PORT), or the connection of a machine that called in (--listen). Once
// open, the session sees a descriptor and how its output queue is read (LineQueue);
// nothing else differs.
class ServeLine {
  public:
    struct OpenError {
        std::string message;     // one line: what could not be opened and why
        std::string stop_cause;  // not empty when a stop key or signal ended a wait
    };

    // Opens the line the options name; a wait for the network ends early at a stop
    // (see WaitBreakers), and a wait for a caller is announced on `out`.
    static std::variant<ServeLine, OpenError> Open(const ServeOptions& options,
                                                   WaitBreakers breakers, std::FILE* out);

    int fd() const;
    const LineQueue& queue() const { return *queue_; }
    // The line in messages: the device, or "tcp:" and the other end's address.
    const std::string& name() const { return name_; }

  private:
    template <typename Line>
    ServeLine(Line line, const LineQueue& queue, std::string name)
        : line_(std::move(line)), queue_(&queue), name_(std::move(name)) {}

    std::variant<serial::SerialLine, NetworkLine> line_;
    const LineQueue* queue_;
    std::string name_;
};

}  // namespace kestrel::serve
