#pragma once

#include <cstddef>
#include <deque>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "app/receive_buffer.h"
#include "app/session_services.h"
#include "sim/simulated_session.h"

namespace kestrel::testing {

// Stands in for the port, the keyboard, the message pump, the pauses and the log
// control all at once, and records what the command loop does with them on one
// timeline, in order:
//   "write 00"               a completed port write, bytes in hex
//   "given up 00"            a write given up on a stalled line
//   "refused 00"             a write the platform refused at once
//   "sleep 10"               a pause
//   "log Sending file X..."  a line appended to the log
//   "end"                    a request to end the window
// The remote machine is scripted by pump pass: bytes given to ArriveAtRefresh(n, ..)
// land in the ReceiveBuffer during the n-th SysRefresh (counting from 1), as the
// receive notification would deliver them.
// A misuse by the code under test (a key other than Esc polled, a loop that never
// stops) throws std::logic_error, which fails the test. The simulated session of the
// tools (kestrel-sim's) counts the passes and holds Esc; this fake adds the
// scripted remote, the timeline and the line's faults.
class FakeSession : public sim::SimulatedSession {
  public:
    explicit FakeSession(app::ReceiveBuffer& received) : SimulatedSession(received) {}

    void ArriveAtRefresh(int refresh, std::string bytes) { arrivals_[refresh] += bytes; }

    // Successive answers for Esc polls; once used up, Esc reads as released, or as
    // held once the remote has gone quiet if HoldEscWhenIdle() was asked for. A loop
    // that keeps waiting on a quiet remote without it is a misuse.
    void EscAnswers(std::vector<bool> answers) {
        esc_answers_.assign(answers.begin(), answers.end());
    }
    // The operator gives up once the remote has sent everything it was scripted to.
    void HoldEscWhenIdle() { esc_when_idle_ = true; }

    // Everything written to the port, in order, as one string.
    std::string Wire() const;
    std::vector<std::size_t> WriteSizes() const { return write_sizes_; }
    const std::vector<std::string>& Timeline() const { return timeline_; }
    const std::string& LogText() const { return log_text_; }
    int EndRequests() const { return end_requests_; }

    // Each write handles messages this many times while it is under way (the window
    // kept alive by the write's wait), before it completes.
    void PumpWhileWriting(int passes) { passes_per_write_ = passes; }
    // Writes from the n-th on, `count` of them, never complete (the line stopped
    // reading): each waits, handling messages, until the loop asks to stop, and is
    // then given up. The writes after them complete again.
    void StallWritesFrom(int write, int count = std::numeric_limits<int>::max()) {
        stall_from_write_ = write;
        stalled_writes_ = count;
    }
    // The n-th write is refused by the platform at once: nothing goes out, and the
    // write is not given up.
    void RefuseWrite(int write) { refused_write_ = write; }

    app::WriteOutcome Write(serial::PortHandle port, std::string_view bytes,
                            const Waiting& waiting) override;
    bool IsHeld(int virtual_key) override;
    void SysRefresh() override;
    bool WaitForMessages(int timeout_ms) override;
    void Sleep(int milliseconds) override;
    void Append(std::string_view text) override;
    void ShowAppended() override;
    // How often the loop let the log catch up, and the log as the control showed it
    // then.
    int Shows() const { return shows_; }
    const std::string& ShownLog() const { return shown_log_; }
    // Each catch-up of the log is noted on the timeline as "show".
    void RecordShows() { record_shows_ = true; }
    void EndWindow() override;
    bool WindowEnded() override { return window_ended_; }

    // The window accepts the loop's own end request (by default the closing rule
    // refuses it, as with F4 held).
    void AcceptEndRequests() { accept_end_ = true; }
    // The window is ended from outside the loop (the Esc key message, a close
    // request) during the n-th SysRefresh.
    void EndWindowAtRefresh(int refresh) { end_at_refresh_ = refresh; }
    // How often the wait slept for messages, and whether any sleep was longer than
    // the given bound.
    int Waits() const { return waits_; }
    int LongestWaitMs() const { return longest_wait_ms_; }
    // The time limit given to each wait, in order.
    const std::vector<int>& WaitTimeouts() const { return wait_timeouts_; }

    serial::PortHandle seen_port = serial::kNoPort;

  private:
    bool RemoteDone() const {
        return arrivals_.empty() || arrivals_.rbegin()->first <= Refreshes();
    }

    std::map<int, std::string> arrivals_;
    std::deque<bool> esc_answers_;
    bool esc_when_idle_ = false;
    int idle_refreshes_ = 0;
    std::vector<std::string> timeline_;
    std::vector<std::string> writes_;
    std::vector<std::size_t> write_sizes_;
    std::string log_text_;
    int end_requests_ = 0;
    bool accept_end_ = false;
    bool window_ended_ = false;
    int end_at_refresh_ = -1;
    int waits_ = 0;
    int longest_wait_ms_ = 0;
    std::vector<int> wait_timeouts_;
    int passes_per_write_ = 0;
    int shows_ = 0;
    std::string shown_log_;
    bool record_shows_ = false;
    int stall_from_write_ = 0;
    int stalled_writes_ = 0;
    int refused_write_ = 0;
};

}  // namespace kestrel::testing
