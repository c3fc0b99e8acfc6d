#include "serve/session_events_posix.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "base/eintr_posix.h"
#include "serial/wait_ready_posix.h"
#include "serve/signal_pipe_posix.h"
#include "serve/terminal_posix.h"

namespace kestrel::serve {
namespace {

constexpr std::size_t kReadChunk = 4096;
// Reads of one pass at most: a flood on the line never starves the keys and signals.
constexpr int kReadsPerPass = 16;
constexpr short kTrouble = POLLHUP | POLLERR | POLLNVAL;

}  // namespace

SessionEvents::Woken SessionEvents::Pump(int timeout_ms, bool want_room) {
    if (LineLost()) {
        return {true, false};
    }
    std::array<pollfd, 3> fds{{
        {line_fd_, static_cast<short>(POLLIN | (want_room ? POLLOUT : 0)), 0},
        {key_fd_, POLLIN, 0},
        {signal_fd_, POLLIN, 0},
    }};
    if (serial::WaitReady(fds, timeout_ms) < 0) {
        // Not a signal: the wait goes on through those, and finds their bytes in the pipe.
        TakeSignals();
        return {false, false};
    }
    Woken woken;
    const short line = fds[0].revents;
    if (line & (POLLIN | kTrouble)) {
        TakeReceived((line & kTrouble) != 0);
        woken.came = true;
    }
    woken.writable = (line & POLLOUT) != 0 && !LineLost();
    if (fds[1].revents != 0) {
        TakeKeys();
        woken.came = true;
    }
    if (fds[2].revents != 0) {
        TakeSignals();
        woken.came = true;
    }
    return woken;
}

void SessionEvents::LoseLine(const std::string& cause) {
    if (lost_cause_.empty()) {
        lost_cause_ = cause;
    }
}

void SessionEvents::TakeReceived(bool hung_up) {
    // The line was reported readable (or hung up), so a read that finds nothing at all
    // finds the end of the line, not an empty queue. What arrived before a hang-up is
    // still taken in.
    char bytes[kReadChunk];
    for (int pass = 0; pass < kReadsPerPass; ++pass) {
        const ssize_t count = base::ReadRetrying(line_fd_, bytes, sizeof bytes);
        if (count > 0) {
            received_.Append(std::string_view(bytes, static_cast<std::size_t>(count)));
            if (static_cast<std::size_t>(count) < sizeof bytes) {
                break;
            }
            continue;
        }
        if (count < 0 && errno == EAGAIN) {
            break;
        }
        if (count < 0) {
            LoseLine(std::string("read failed: ") + std::strerror(errno));
            return;
        }
        if (pass == 0) {
            LoseLine(hang_up_);
            return;
        }
        break;
    }
    if (hung_up) {
        LoseLine(hang_up_);
    }
}

void SessionEvents::TakeKeys() {
    char bytes[64];
    const ssize_t count = base::ReadRetrying(key_fd_, bytes, sizeof bytes);
    if (count > 0) {
        for (const KeyPress& key :
             keys_.Take(std::string_view(bytes, static_cast<std::size_t>(count)))) {
            if (key.key == DeckKey::kEsc || key.key == DeckKey::kQuit) {
                Stop(key.key == DeckKey::kEsc ? "Esc" : "q");
            } else if (listener_ != nullptr) {
                listener_->KeyPressed(key);
            }
        }
    } else if (count == 0 || errno != EAGAIN) {
        key_fd_ = -1;  // the terminal has gone; its SIGHUP says the rest
    }
}

void SessionEvents::TakeSignals() {
    for (const int signal_number : ReadSignals(signal_fd_)) {
        if (signal_number == SIGWINCH || signal_number == SIGTSTP || signal_number == SIGCONT) {
            if (listener_ != nullptr) {
                listener_->Signalled(signal_number);
            } else if (signal_number == SIGTSTP) {
                kill(getpid(), SIGSTOP);  // as Ctrl-Z would without the handler
            }
        } else {
            Stop(SignalName(signal_number));
        }
    }
}

void SessionEvents::Stop(std::string_view cause) {
    if (stop_cause_.empty()) {
        stop_cause_ = cause;
        if (listener_ != nullptr) {
            listener_->StopAsked();
        }
    }
}

}  // namespace kestrel::serve
