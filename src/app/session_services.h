#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "serial/port_handle.h"
#include "serial/tape_line.h"

namespace kestrel::app {

inline constexpr int kVkEscape = 27;  // the key that stops the session

// The narrow seams through which the command loop reaches the platform. The real
// program plugs in the serial port layer, the keyboard, the window framework's
// message pump and the session window's log control; the unit tests plug in fakes
// that record every byte, pause and log line.

// What became of a write: how many bytes went out, and whether the write was given
// up on a line that had stopped taking bytes while the session was ending. A write
// that comes back short without being given up (the platform refused it, the line was
// lost) is no sign that the line has stalled.
struct WriteOutcome {
    int written = 0;
    bool given_up = false;
};

// WRITECOMM: writes the bytes and returns only when the write has completed. While
// the write is under way, `waiting` runs on the same thread as messages arrive, and
// at least every serial::kWriteWaitTickMs, the first time within that of the write's
// start: it keeps the
// windows alive and answers whether the write may go on. A write whose caller has
// answered no for as long as a healthy line needs to take a whole write (the line has
// stopped reading) is given up, and returns short.
class PortWriter {
  public:
    using Waiting = std::function<bool()>;
    virtual ~PortWriter() = default;
    virtual WriteOutcome Write(serial::PortHandle port, std::string_view bytes,
                               const Waiting& waiting) = 0;
};

// How long a write goes on after its caller first answered no: a healthy line takes a
// whole write (16384 bytes at 10,472 bytes a second) in about 1.6 s, so an entry on
// a line that still reads is never cut short; one still under way after this has a
// line that stopped reading, and is given up.
inline constexpr std::chrono::milliseconds kStalledWrite{3000};

// The caller's `waiting` as a platform's writer asks it, for one write: go on while
// the caller says so, and for kStalledWrite after it first says no (a yes in between
// starts over). GaveUp() tells the writer that the write ended because of it.
class StalledWriteRule {
  public:
    using Clock = std::chrono::steady_clock;
    explicit StalledWriteRule(const PortWriter::Waiting& waiting,
                              std::function<Clock::time_point()> now = Clock::now)
        : waiting_(waiting), now_(std::move(now)) {}

    bool GoOn() {
        if (waiting_()) {
            stop_asked_at_.reset();
            return true;
        }
        const Clock::time_point now = now_();
        if (!stop_asked_at_) {
            stop_asked_at_ = now;
        }
        gave_up_ = now - *stop_asked_at_ >= kStalledWrite;
        return !gave_up_;
    }
    bool GaveUp() const { return gave_up_; }

  private:
    const PortWriter::Waiting& waiting_;
    std::function<Clock::time_point()> now_;
    std::optional<Clock::time_point> stop_asked_at_;
    bool gave_up_ = false;
};

// GETASYNCKEYSTATE: whether a key (by virtual-key code) is down at this moment.
class KeyState {
  public:
    virtual ~KeyState() = default;
    virtual bool IsHeld(int virtual_key) = 0;
};

// SYSREFRESH: handles every pending window message, then returns at once. Received
// bytes reach the ReceiveBuffer only from inside it.
class MessagePump {
  public:
    virtual ~MessagePump() = default;
    virtual void SysRefresh() = 0;
    // Sleeps until a message (posted or sent) arrives for the thread, or the time
    // is up, so that a wait costs no processor time while nothing happens. True when
    // a message came, false when the time ran out with nothing.
    virtual bool WaitForMessages(int timeout_ms) = 0;
};

// SLEEP: holds the calling thread for a number of milliseconds, pumping nothing.
class Pause {
  public:
    virtual ~Pause() = default;
    virtual void Sleep(int milliseconds) = 0;
};

// How long the command loop's idle wait sleeps at most when no message arrives.
// Received bytes, keys pressed in the session window (an Esc that counts is one
// pressed there) and every request to end the window are messages and wake it at
// once; the timeout only bounds how long a held Esc could go unseen without one.
// Each wake-up costs the wineserver a few requests: under Wine a quiet session costs
// 0.8 % of a core at this rate (program and wineserver), 1.4 % at 20 ms.
inline constexpr int kIdleWaitMs = 50;
// An idle wait that sleeps until a message arrives, however long: for a front end
// where every key and every request to end is itself a message.
inline constexpr int kWaitForMessageOnly = -1;

class TapeImage;

// A front end that lets its user choose the entry each request gets (a tape deck's
// position, pause and keys). The Windows tool has none: each request gets the next
// entry in order.
class EntryChooser {
  public:
    virtual ~EntryChooser() = default;
    // A "B" has been taken: returns once the entry that it gets stands at the tape's
    // front (or the tape's front stands at its end, for the end byte). It may wait
    // meanwhile (the user has paused the deck); the bytes received after the "B"
    // stay queued in order. A stop asked meanwhile ends the wait, and the loop then
    // stops as after any wait.
    virtual void BeforeNextEntry(TapeImage& tape) = 0;
};

struct SessionServices {
    PortWriter& port;
    KeyState& keys;
    MessagePump& pump;
    Pause& pause;
    // The timeout the idle wait passes to WaitForMessages: kIdleWaitMs, or
    // kWaitForMessageOnly.
    int idle_wait_ms = kIdleWaitMs;
    // Chooses the entry for each "B"; none: the entries go out in order.
    EntryChooser* chooser = nullptr;
};

// The session's log control as the command loop sees it: the bound log text, the
// control's scrolling, and the end of the window the control is on.
class LogView {
  public:
    virtual ~LogView() = default;
    // Adds text at the end of the bound log text at once, without copying what the
    // log already holds. The control shows it at the next ShowAppended: redrawing the
    // control costs milliseconds, which the answer to a request must not wait for.
    virtual void Append(std::string_view text) = 0;
    // Scrolls to the end of the log, once what was appended shows.
    virtual void GoBottom() = 0;
    // The control catches up with the log text: shows what was appended since the
    // last time and scrolls as asked. Nothing when there is nothing new.
    virtual void ShowAppended() = 0;
    // End on the control's window; the window's closing rule may refuse it.
    virtual void EndWindow() = 0;
    // True once the control's window has been ended, by whatever path.
    virtual bool WindowEnded() = 0;
};

// The key state with Esc counted only while the session window is in front: Esc
// pressed in another program must not stop a transfer. The key is tested first: it
// is almost never held, and then the question of the window in front (a round trip
// to the window system, between a request and its answer) is not asked.
class ForegroundEsc : public KeyState {
  public:
    ForegroundEsc(KeyState& keys, std::function<bool()> in_foreground)
        : keys_(keys), in_foreground_(std::move(in_foreground)) {}
    bool IsHeld(int virtual_key) override {
        return keys_.IsHeld(virtual_key) && (virtual_key != kVkEscape || in_foreground_());
    }

  private:
    KeyState& keys_;
    std::function<bool()> in_foreground_;
};

}  // namespace kestrel::app
