#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <variant>

#include "base/unique_fd_posix.h"
#include "serve/network_address.h"

namespace kestrel::serve {

// What ends a wait for the network early: a stop key (Esc, q) read from `key_fd`
// (-1: no keys), or a signal on the self-pipe `signal_fd`.
struct WaitBreakers {
    int key_fd = -1;
    int signal_fd = -1;
};

// A TCP connection that carries the remote machine's serial line as a raw byte
// stream: to a serial-over-network bridge, or from a WiFi modem that calls in.
//
// Opening never blocks where a signal or a key cannot reach it: the connection is
// made non-blocking and its progress waited for in poll() beside the keys and the
// signal pipe, so Esc, q, Ctrl-C and SIGTERM end a wait for a bridge that does not
// answer, or for a machine that never calls, at once. (Only the name look-up of a
// host name blocks; a numeric address needs none.)
//
// The connection is non-blocking, close-on-exec and has TCP_NODELAY: each write goes
// out at once instead of waiting to fill a segment, so the pause after it begins
// with its bytes on their way, as on a serial line. The object owns the descriptor.
// Closing first reads away what the other end sent and nobody took: a socket closed
// with unread bytes ends its connection with a reset, which may cut off the last
// bytes still on their way to the other end (the end byte).
class NetworkLine {
  public:
    struct OpenError {
        std::string message;     // one line naming the address and the reason
        std::string stop_cause;  // "Esc", "q", "SIGINT", ... when a stop ended the wait
    };

    // Connects to `address`, trying each of its IPv4 and IPv6 addresses in turn, each
    // for at most 10 s.
    static std::variant<NetworkLine, OpenError> Connect(const NetworkAddress& address,
                                                        WaitBreakers breakers);
    // Listens on `address` (SO_REUSEADDR), says so on `out` ("listening on
    // 127.0.0.1:5000 ..."), and takes the first machine that connects, for as long as
    // it takes; then stops listening, so nobody else can connect.
    static std::variant<NetworkLine, OpenError> Accept(const NetworkAddress& address,
                                                       WaitBreakers breakers, std::FILE* out);

    NetworkLine(NetworkLine&& other) noexcept;
    NetworkLine& operator=(NetworkLine&&) = delete;
    NetworkLine(const NetworkLine&) = delete;
    NetworkLine& operator=(const NetworkLine&) = delete;
    ~NetworkLine();

    int fd() const { return fd_.get(); }
    // The other end, numeric: "127.0.0.1:40112", "[::1]:5000".
    const std::string& peer() const { return peer_; }

  private:
    NetworkLine(base::UniqueFd fd, std::string peer) : fd_(std::move(fd)), peer_(std::move(peer)) {}

    base::UniqueFd fd_;  // none once moved from
    std::string peer_;
};

}  // namespace kestrel::serve
