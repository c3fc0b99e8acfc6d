#include "serve/terminal_posix.h"

#include <unistd.h>

#include "base/eintr_posix.h"

namespace kestrel::serve {

void TerminalKeys::Take() {
    if (active_ || !isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) {
        return;
    }
    // A program started in the background of its terminal must leave the terminal
    // alone: changing its settings would stop the program (SIGTTOU), and its keys
    // belong to another. (A terminal that is not the controlling one has no
    // foreground: tcgetpgrp fails.)
    const pid_t foreground = tcgetpgrp(STDIN_FILENO);
    if (foreground >= 0 && foreground != getpgrp()) {
        return;
    }
    termios keys = saved_;
    keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keys.c_cc[VMIN] = 1;
    keys.c_cc[VTIME] = 0;
    active_ = base::TcsetattrRetrying(STDIN_FILENO, TCSANOW, keys) == 0;
}

void TerminalKeys::Release() {
    if (active_) {
        base::TcsetattrRetrying(STDIN_FILENO, TCSANOW, saved_);
        active_ = false;
    }
}

}  // namespace kestrel::serve
