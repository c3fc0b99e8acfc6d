#pragma once

#include <termios.h>

namespace kestrel::serve {

// The keyboard of the terminal the program runs in, key by key: while the object
// lives, standard input (when it is a terminal and the program is in its foreground)
// is non-canonical and does not echo, so each key arrives as it is pressed; Ctrl-C
// still raises SIGINT and Ctrl-Z SIGTSTP. Destroying the object gives the terminal
// its settings back, on every path out of the session.
class TerminalKeys {
  public:
    TerminalKeys() { Take(); }
    ~TerminalKeys() { Release(); }
    TerminalKeys(const TerminalKeys&) = delete;
    TerminalKeys& operator=(const TerminalKeys&) = delete;

    // Key by key from now on, the terminal's own settings kept to give back (again
    // after a Release: the program stopped and continued in the foreground).
    void Take();
    // The terminal's own settings back (before the program stops).
    void Release();

    // Standard input while keys are taken from it, otherwise -1.
    int fd() const { return active_ ? 0 : -1; }

  private:
    termios saved_{};
    bool active_ = false;
};

}  // namespace kestrel::serve
