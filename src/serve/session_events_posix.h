#pragma once

#include <string>
#include <string_view>

#include "app/receive_buffer.h"
#include "serve/deck_keys.h"

namespace kestrel::serve {

// What the session hears of besides the line, for the front end that shows the deck.
// Called on the session's thread, from inside a wait.
class SessionListener {
  public:
    virtual ~SessionListener() = default;
    virtual void KeyPressed(const KeyPress& key) = 0;  // a deck key, not a stop key
    virtual void StopAsked() = 0;                      // the first request to stop
    virtual void Signalled(int signal_number) = 0;     // SIGWINCH, SIGTSTP, SIGCONT
};

// Everything the session waits for, in one poll(): bytes on the line, keys on the
// terminal, signals on the self-pipe, and, while a write waits, room on the line.
// The command loop's message pump, key state and port writer all wait here, so a
// session sleeps in the kernel whenever nothing happens and wakes for whichever
// comes first. Whatever arrives is taken in at once: received bytes join the
// ReceiveBuffer in arrival order (also during a long write), Esc, q and the three
// signals ask to stop, the deck's other keys and the terminal's signals go to the
// listener, and a line that hangs up or fails is marked lost. Single thread: the
// fields belong to the session's thread.
class SessionEvents {
  public:
    // `key_fd` -1 when no keys are taken; `signal_fd` the self-pipe's read end;
    // `hang_up` the cause a line lost by the other side's hang-up is given.
    SessionEvents(int line_fd, int key_fd, int signal_fd, app::ReceiveBuffer& received,
                  std::string_view hang_up = "the device hung up")
        : line_fd_(line_fd),
          key_fd_(key_fd),
          signal_fd_(signal_fd),
          received_(received),
          hang_up_(hang_up) {}

    struct Woken {
        bool came = false;      // bytes, a key, a signal, or the line's loss
        bool writable = false;  // the line has room (asked for with `want_room`)
    };
    // Sleeps until something comes or `timeout_ms` pass (-1: no limit; 0: only looks),
    // takes in what came, and says what it was. Returns at once once the line is lost.
    Woken Pump(int timeout_ms, bool want_room = false);

    bool StopAsked() const { return !stop_cause_.empty(); }
    const std::string& StopCause() const { return stop_cause_; }  // "Esc", "q", "SIGINT", ...
    bool LineLost() const { return !lost_cause_.empty(); }
    const std::string& LostCause() const { return lost_cause_; }
    // Marks the line lost (a write or drain found it gone); the first cause stays.
    void LoseLine(const std::string& cause);

    // Who hears of keys and the terminal's signals (none: they are dropped).
    void Listen(SessionListener* listener) { listener_ = listener; }
    // Keys come from `key_fd` from now on (-1: none), as the terminal is given back
    // and taken again.
    void TakeKeysFrom(int key_fd) { key_fd_ = key_fd; }

  private:
    void TakeReceived(bool hung_up);
    void TakeKeys();
    void TakeSignals();
    void Stop(std::string_view cause);

    int line_fd_;
    int key_fd_;  // -1 once the terminal has gone
    int signal_fd_;
    app::ReceiveBuffer& received_;
    std::string hang_up_;
    std::string stop_cause_;
    std::string lost_cause_;
    KeyDecoder keys_;
    SessionListener* listener_ = nullptr;
};

}  // namespace kestrel::serve
