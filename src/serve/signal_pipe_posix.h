#pragma once

#include <csignal>
#include <string_view>
#include <vector>

#include "base/unique_fd_posix.h"

namespace kestrel::serve {

// SIGINT, SIGTERM and SIGHUP as bytes on a pipe, so that a wait in poll() wakes for
// them like for any other event, and the program ends its session through the same
// path as Esc (the remote gets the end byte, the terminal is restored). The handler
// only writes the signal's number to the pipe; everything else happens on the
// session's thread when it reads the pipe. The self-pipe works alike on Linux and
// macOS (signalfd is Linux's own).
//
// SIGWINCH (the terminal's new size), SIGTSTP (Ctrl-Z) and SIGCONT (fg) come the same
// way, so the terminal is given back before the program stops and taken again after.
//
// While the object lives, those signals go to the pipe and SIGPIPE is ignored
// (a closed standard output makes its writes fail instead of ending the program);
// destroying it puts the previous actions back and closes the pipe.
class SignalPipe {
  public:
    SignalPipe();
    ~SignalPipe();
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    // False when the pipe or a handler could not be set up (then nothing is installed).
    bool ok() const { return static_cast<bool>(read_end_); }
    // Readable when a signal has come; non-blocking.
    int read_fd() const { return read_end_.get(); }

  private:
    static constexpr int kHandled[] = {SIGINT,   SIGTERM, SIGHUP, SIGPIPE,
                                       SIGWINCH, SIGTSTP, SIGCONT};
    struct sigaction previous_[sizeof(kHandled) / sizeof(kHandled[0])]{};
    base::UniqueFd read_end_;
    base::UniqueFd write_end_;
};

// Empties the pipe whose read end is given: the signals that came, in order.
std::vector<int> ReadSignals(int read_fd);

// "SIGINT", "SIGTERM", "SIGHUP", or "a signal".
std::string_view SignalName(int signal_number);

}  // namespace kestrel::serve
