#include "serve/signal_pipe_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <utility>

#include "base/eintr_posix.h"

namespace kestrel::serve {
namespace {

// The write end of the live SignalPipe's pipe, for the handler: the program's one
// piece of global mutable state. Set before the handlers are installed, cleared after
// they are removed.
volatile std::sig_atomic_t g_signal_pipe_write = -1;

extern "C" void WriteSignalToPipe(int signal_number) {
    const int saved_errno = errno;
    const char byte = static_cast<char>(signal_number);
    // A full pipe already holds a wake-up; losing this byte loses nothing.
    [[maybe_unused]] const ssize_t ignored = write(g_signal_pipe_write, &byte, 1);
    errno = saved_errno;
}

bool MakeNonBlockingCloseOnExec(int fd) {
    const int status = fcntl(fd, F_GETFL);
    return status >= 0 && fcntl(fd, F_SETFL, status | O_NONBLOCK) == 0 &&
           fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

}  // namespace

SignalPipe::SignalPipe() {
    int ends[2];
    if (pipe(ends) != 0) {
        return;
    }
    base::UniqueFd read_end(ends[0]);
    base::UniqueFd write_end(ends[1]);
    if (!MakeNonBlockingCloseOnExec(read_end.get()) ||
        !MakeNonBlockingCloseOnExec(write_end.get())) {
        return;
    }
    g_signal_pipe_write = write_end.get();
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // poll() still returns EINTR; other calls go on
    for (std::size_t i = 0; i < std::size(kHandled); ++i) {
        action.sa_handler = kHandled[i] == SIGPIPE ? SIG_IGN : WriteSignalToPipe;
        if (sigaction(kHandled[i], &action, &previous_[i]) != 0) {
            for (std::size_t undo = 0; undo < i; ++undo) {
                sigaction(kHandled[undo], &previous_[undo], nullptr);
            }
            g_signal_pipe_write = -1;
            return;
        }
    }
    read_end_ = std::move(read_end);
    write_end_ = std::move(write_end);
}

SignalPipe::~SignalPipe() {
    if (!read_end_) {
        return;
    }
    for (std::size_t i = 0; i < std::size(kHandled); ++i) {
        sigaction(kHandled[i], &previous_[i], nullptr);
    }
    g_signal_pipe_write = -1;
    // The pipe's ends close after the handlers are gone.
}

std::vector<int> ReadSignals(int read_fd) {
    std::vector<int> signals;
    char bytes[16];
    ssize_t count;
    while ((count = base::ReadRetrying(read_fd, bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < count; ++i) {
            signals.push_back(static_cast<unsigned char>(bytes[i]));
        }
    }
    return signals;
}

std::string_view SignalName(int signal_number) {
    switch (signal_number) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

}  // namespace kestrel::serve
