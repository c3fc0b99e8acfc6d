#include "serve/network_line_posix.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "base/eintr_posix.h"
#include "base/unique_fd_posix.h"
#include "serial/wait_ready_posix.h"
#include "serve/signal_pipe_posix.h"
#include "serve/deck_keys.h"
#include "serve/terminal_posix.h"

namespace kestrel::serve {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kConnectLimit = std::chrono::seconds(10);  // each address of the host
constexpr int kUnreadReadsAtClose = 64;                   // of 4096 bytes each

using base::UniqueFd;

using AddressList = std::unique_ptr<addrinfo, decltype(&freeaddrinfo)>;

// The addresses of `address`, or why there are none.
std::variant<AddressList, std::string> LookUp(const NetworkAddress& address, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(address.port);
    const int status = getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found);
    if (status != 0) {
        return std::string(status == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(status));
    }
    return AddressList(found, &freeaddrinfo);
}

std::string NumericText(const sockaddr* where, socklen_t size) {
    char host[NI_MAXHOST];
    char port[NI_MAXSERV];
    if (getnameinfo(where, size, host, sizeof host, port, sizeof port,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "an unknown address";
    }
    return NetworkAddress{host, static_cast<std::uint16_t>(std::atoi(port))}.Text();
}

std::string PeerText(int fd) {
    sockaddr_storage where{};
    socklen_t size = sizeof where;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&where), &size) != 0) {
        return "an unknown address";
    }
    return NumericText(reinterpret_cast<const sockaddr*>(&where), size);
}

bool MakeNonBlockingCloseOnExec(int fd) {
    const int status = fcntl(fd, F_GETFL);
    return status >= 0 && fcntl(fd, F_SETFL, status | O_NONBLOCK) == 0 &&
           fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

// A fresh socket for `address`, non-blocking and close-on-exec; -1 with errno set.
int OpenSocket(const addrinfo& address) {
    UniqueFd socket_fd(socket(address.ai_family, address.ai_socktype, address.ai_protocol));
    if (!socket_fd || !MakeNonBlockingCloseOnExec(socket_fd.get())) {
        return -1;
    }
    return socket_fd.release();
}

// The connected socket as the line wants it; the reason when it cannot be.
std::string PrepareConnection(int fd) {
    if (!MakeNonBlockingCloseOnExec(fd)) {
        return std::strerror(errno);
    }
    const int on = 1;
    if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
        return std::string("cannot set TCP_NODELAY: ") + std::strerror(errno);
    }
    // A machine that vanishes without closing (a modem that lost its network) is
    // noticed within about a minute even while the line is idle: the kernel probes
    // an idle connection and reports it broken, and the session ends as lost.
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
#if defined(TCP_KEEPIDLE) && defined(TCP_KEEPINTVL) && defined(TCP_KEEPCNT)
    const int idle_s = 30;
    const int every_s = 10;
    const int probes = 3;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle_s, sizeof idle_s);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &every_s, sizeof every_s);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
#endif
#ifdef SO_NOSIGPIPE
    // Where there is no MSG_NOSIGNAL for write(): a write to a closed connection fails
    // instead of raising SIGPIPE (which the session ignores anyway).
    setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
    return {};
}

struct Waited {
    bool ready = false;      // `fd` has the events asked for
    std::string stop_cause;  // not empty: a stop key or a signal came first
};

// Sleeps in poll() until `fd` has `events`, a stop key or a signal comes, or
// `timeout` passes (negative: no limit). Keys other than the stop keys are dropped.
Waited WaitFor(int fd, short events, WaitBreakers& breakers, std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    KeyDecoder decoder;
    for (;;) {
        int timeout_ms = -1;
        if (timeout.count() >= 0) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            timeout_ms = static_cast<int>(left > 0 ? left : 0);
        }
        std::array<pollfd, 3> fds{{
            {fd, events, 0},
            {breakers.key_fd, POLLIN, 0},
            {breakers.signal_fd, POLLIN, 0},
        }};
        const int ready = serial::WaitReady(fds, timeout_ms);
        if (ready < 0) {
            return {};
        }
        if (fds[2].revents != 0) {
            for (const int signal_number : ReadSignals(breakers.signal_fd)) {
                if (signal_number == SIGTSTP) {
                    kill(getpid(), SIGSTOP);  // as Ctrl-Z would without the handler
                } else if (signal_number != SIGWINCH && signal_number != SIGCONT) {
                    return {false, std::string(SignalName(signal_number))};
                }
            }
        }
        if (fds[1].revents != 0) {
            char keys[64];
            const ssize_t count = base::ReadRetrying(breakers.key_fd, keys, sizeof keys);
            if (count > 0) {
                for (const KeyPress& key :
                     decoder.Take(std::string_view(keys, static_cast<std::size_t>(count)))) {
                    if (key.key == DeckKey::kEsc || key.key == DeckKey::kQuit) {
                        return {false, key.key == DeckKey::kEsc ? "Esc" : "q"};
                    }
                }
            } else if (count == 0 || errno != EAGAIN) {
                breakers.key_fd = -1;  // the terminal has gone; its SIGHUP says the rest
            }
        }
        if (fds[0].revents != 0) {
            return {true, {}};
        }
        if (ready == 0 && timeout_ms >= 0) {
            return {};
        }
    }
}

struct Attempt {
    int fd = -1;             // the connected socket
    std::string reason;      // why not, when fd is -1
    std::string stop_cause;  // a stop ended the wait
};

Attempt ConnectOnce(const addrinfo& address, WaitBreakers& breakers) {
    UniqueFd socket_fd(OpenSocket(address));
    if (!socket_fd) {
        return {-1, std::strerror(errno), {}};
    }
    // After EINTR the connection goes on being made, as after EINPROGRESS.
    if (connect(socket_fd.get(), address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            return {-1, std::strerror(errno), {}};
        }
        const Waited waited = WaitFor(socket_fd.get(), POLLOUT, breakers, kConnectLimit);
        if (!waited.stop_cause.empty()) {
            return {-1, {}, waited.stop_cause};
        }
        if (!waited.ready) {
            return {-1, "no answer within " + std::to_string(kConnectLimit.count()) + " s", {}};
        }
        int failure = 0;
        socklen_t size = sizeof failure;
        if (getsockopt(socket_fd.get(), SOL_SOCKET, SO_ERROR, &failure, &size) != 0) {
            failure = errno;
        }
        if (failure != 0) {
            return {-1, std::strerror(failure), {}};
        }
    }
    return {socket_fd.release(), {}, {}};
}

// A socket listening on one of the addresses of `address`, or -1 and why not.
std::pair<int, std::string> ListenOn(const addrinfo* addresses) {
    std::string reason = "no address to listen on";
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        UniqueFd socket_fd(OpenSocket(*address));
        const int on = 1;
        if (socket_fd &&
            setsockopt(socket_fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
            bind(socket_fd.get(), address->ai_addr, address->ai_addrlen) == 0 &&
            listen(socket_fd.get(), 1) == 0) {
            return {socket_fd.release(), {}};
        }
        reason = std::strerror(errno);
    }
    return {-1, reason};
}

}  // namespace

std::variant<NetworkLine, NetworkLine::OpenError> NetworkLine::Connect(
    const NetworkAddress& address, WaitBreakers breakers) {
    const std::string failed = "cannot connect to " + address.Text() + ": ";
    auto found = LookUp(address, 0);
    if (auto* reason = std::get_if<std::string>(&found)) {
        return OpenError{failed + *reason, {}};
    }
    std::string reason;
    for (const addrinfo* each = std::get<AddressList>(found).get(); each != nullptr;
         each = each->ai_next) {
        Attempt attempt = ConnectOnce(*each, breakers);
        if (!attempt.stop_cause.empty()) {
            return OpenError{{}, attempt.stop_cause};
        }
        if (attempt.fd < 0) {
            reason = attempt.reason;
            continue;
        }
        UniqueFd connected(attempt.fd);
        if (const std::string unusable = PrepareConnection(connected.get()); !unusable.empty()) {
            return OpenError{failed + unusable, {}};
        }
        std::string peer = PeerText(connected.get());
        return NetworkLine(std::move(connected), std::move(peer));
    }
    return OpenError{failed + reason, {}};
}

std::variant<NetworkLine, NetworkLine::OpenError> NetworkLine::Accept(const NetworkAddress& address,
                                                                      WaitBreakers breakers,
                                                                      std::FILE* out) {
    const std::string failed = "cannot listen on " + address.Text() + ": ";
    auto found = LookUp(address, AI_PASSIVE);
    if (auto* reason = std::get_if<std::string>(&found)) {
        return OpenError{failed + *reason, {}};
    }
    auto [listening, reason] = ListenOn(std::get<AddressList>(found).get());
    if (listening < 0) {
        return OpenError{failed + reason, {}};
    }
    UniqueFd listener(listening);
    sockaddr_storage where{};
    socklen_t size = sizeof where;
    const std::string shown =
        getsockname(listener.get(), reinterpret_cast<sockaddr*>(&where), &size) == 0
            ? NumericText(reinterpret_cast<const sockaddr*>(&where), size)
            : address.Text();
    std::fprintf(out, "listening on %s ...\n", shown.c_str());
    std::fflush(out);
    for (;;) {
        const Waited waited =
            WaitFor(listener.get(), POLLIN, breakers, std::chrono::milliseconds(-1));
        if (!waited.stop_cause.empty()) {
            return OpenError{{}, waited.stop_cause};
        }
        if (!waited.ready) {
            return OpenError{"cannot wait on " + shown + ": " + std::strerror(errno), {}};
        }
        UniqueFd connected(accept(listener.get(), nullptr, nullptr));
        if (!connected) {
            // The caller gave up before its connection was taken, or nothing is there
            // after all: wait on.
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED ||
                errno == EINTR || errno == EPROTO) {
                continue;
            }
            return OpenError{"cannot accept on " + shown + ": " + std::strerror(errno), {}};
        }
        if (const std::string unusable = PrepareConnection(connected.get()); !unusable.empty()) {
            return OpenError{"cannot use the connection on " + shown + ": " + unusable, {}};
        }
        listener.reset();  // before saying so: nobody else connects from now on
        std::string peer = PeerText(connected.get());
        std::fprintf(out, "connected: %s\n", peer.c_str());
        std::fflush(out);
        return NetworkLine(std::move(connected), std::move(peer));
    }
}

NetworkLine::NetworkLine(NetworkLine&& other) noexcept
    : fd_(std::move(other.fd_)), peer_(std::move(other.peer_)) {}

NetworkLine::~NetworkLine() {
    if (!fd_) {
        return;
    }
    char unread[4096];
    for (int pass = 0; pass < kUnreadReadsAtClose; ++pass) {
        if (base::ReadRetrying(fd_.get(), unread, sizeof unread) <= 0) {
            break;
        }
    }
    // fd_ closes the connection.
}

}  // namespace kestrel::serve
