#include "serve/terminal_posix.h"

#include <unistd.h>

namespace kestrel::serve {

TerminalKeys::TerminalKeys() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) {
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
    active_ = tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0;
}

TerminalKeys::~TerminalKeys() {
    if (active_) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }
}

std::string_view StopKeyIn(std::string_view keys) {
    constexpr char kEsc = 0x1B;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] == 'q' || keys[i] == 'Q') {
            return "q";
        }
        if (keys[i] != kEsc) {
            continue;
        }
        const char next = i + 1 < keys.size() ? keys[i + 1] : '\0';
        if (next == 'O') {
            i += 2;  // ESC O and one final byte: F1 to F4, keypad keys
        } else if (next == '[') {
            // ESC [, parameter and intermediate bytes, one final byte: cursor keys,
            // F5 and beyond.
            i += 2;
            while (i < keys.size() && keys[i] >= 0x20 && keys[i] <= 0x3F) {
                ++i;
            }
        } else {
            return "Esc";
        }
    }
    return {};
}

}  // namespace kestrel::serve
