#pragma once

#include <chrono>
#include <cstdio>

#include "app/session_services.h"
#include "serial/tape_line.h"
#include "serve/line_queue_posix.h"
#include "serve/deck_console_posix.h"
#include "serve/session_events_posix.h"
#include "serve/write_progress.h"

namespace kestrel::serve {

// The command loop's seams over a POSIX serial line and terminal. Each waits in the
// session's one poll() (SessionEvents), so received bytes, keys and signals are taken
// in whichever seam happens to be waiting.

// WRITECOMM over the non-blocking line: the bytes go out as the line takes them, and
// the write returns once they have left the machine (see Write's comment on
// draining). Meanwhile `waiting` runs whenever something comes (bytes, a key, a
// signal) and at least every serial::kWriteWaitTickMs. A write whose caller has answered no
// for kStalledWrite is given up and returns short; so does a write on a lost line.
class LineWriter : public app::PortWriter {
  public:
    LineWriter(SessionEvents& events, WriteProgress& progress, const LineQueue& queue)
        : events_(events), progress_(progress), queue_(queue) {}
    app::WriteOutcome Write(serial::PortHandle port, std::string_view bytes,
                            const Waiting& waiting) override;

  private:
    // Waits until the line's output queue has gone out, asking `go_on` (given whether
    // something came) as it waits; false when given up or the line is lost, `queued`
    // then what had not gone out.
    bool Drain(int fd, const std::function<bool(bool)>& go_on, int& queued);

    SessionEvents& events_;
    WriteProgress& progress_;
    const LineQueue& queue_;  // a serial device's or a network connection's
};

// Esc as the loop tests it: held from the moment Esc, q, SIGINT, SIGTERM or SIGHUP
// asked to stop. Every key is an event here, so a stop is never missed.
class StopKey : public app::KeyState {
  public:
    explicit StopKey(SessionEvents& events) : events_(events) {}
    bool IsHeld(int virtual_key) override {
        return virtual_key == app::kVkEscape && events_.StopAsked();
    }

  private:
    SessionEvents& events_;
};

// SYSREFRESH and the idle wait: both take in whatever has come; the wait sleeps in
// poll() until something does.
class EventPump : public app::MessagePump {
  public:
    explicit EventPump(SessionEvents& events) : events_(events) {}
    void SysRefresh() override { events_.Pump(0); }
    bool WaitForMessages(int timeout_ms) override { return events_.Pump(timeout_ms).came; }

  private:
    SessionEvents& events_;
};

// SLEEP on the monotonic clock, to the deadline however many signals come meanwhile.
class MonotonicPause : public app::Pause {
  public:
    void Sleep(int milliseconds) override;
};

// The session log on the deck's console: plain lines, or the deck's screen (see
// DeckConsole). Ending the "window" is the end of the tape: the loop has sent the
// end byte and is done.
class TerminalLog : public app::LogView {
  public:
    TerminalLog(DeckConsole& console, SessionEvents& events) : console_(console), events_(events) {}
    void Append(std::string_view text) override { console_.LogLine(text); }
    void GoBottom() override {}
    void ShowAppended() override {}
    void EndWindow() override;
    // Also true once the line is lost: the loop then stops as at the window's end.
    bool WindowEnded() override { return ended_ || events_.LineLost(); }

    // The loop ended its session at the end of the tape, the end byte sent.
    bool TapeEnded() const { return tape_ended_; }

  private:
    DeckConsole& console_;
    SessionEvents& events_;
    bool ended_ = false;
    bool tape_ended_ = false;
};

}  // namespace kestrel::serve
