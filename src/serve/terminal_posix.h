#pragma once

#include <termios.h>

#include <cstddef>
#include <string_view>

namespace kestrel::serve {

// The keyboard of the terminal the program runs in, key by key: while the object
// lives, standard input (when it is a terminal and the program is in its foreground)
// is non-canonical and does not echo, so each key arrives as it is pressed; Ctrl-C
// still raises SIGINT. Destroying the object gives the terminal its settings back,
// on every path out of the session.
class TerminalKeys {
  public:
    TerminalKeys();
    ~TerminalKeys();
    TerminalKeys(const TerminalKeys&) = delete;
    TerminalKeys& operator=(const TerminalKeys&) = delete;

    // Standard input while keys are taken from it, otherwise -1.
    int fd() const { return active_ ? 0 : -1; }

  private:
    termios saved_{};
    bool active_ = false;
};

// The key among those read at once that asks to stop the session, "Esc" (Esc pressed
// alone) or "q" (q or Q); empty when none does.
// An Esc followed by "[" or "O" in the same read starts the escape sequence of a
// cursor or function key, which is passed over whole (F2 sends ESC O Q).
std::string_view StopKeyIn(std::string_view keys);

}  // namespace kestrel::serve
