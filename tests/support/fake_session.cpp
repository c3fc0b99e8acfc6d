#include "support/fake_session.h"

#include <algorithm>
#include <stdexcept>

#include "support/hex.h"

namespace kestrel::testing {

namespace {

// A loop that the script has left with nothing to do would spin for ever; past this
// many idle passes the fake throws instead.
constexpr int kIdlePassesBeforeFailure = 100000;

}  // namespace

std::string FakeSession::Wire() const {
    std::string wire;
    for (const std::string& write : writes_) {
        wire += write;
    }
    return wire;
}

app::WriteOutcome FakeSession::Write(serial::PortHandle port, std::string_view bytes,
                                     const Waiting& waiting) {
    seen_port = port;
    const int number = static_cast<int>(writes_.size()) + 1;
    if (number == refused_write_) {
        timeline_.push_back("refused " + Hex(bytes));
        writes_.emplace_back();
        return {};
    }
    if (stall_from_write_ > 0 && number >= stall_from_write_ &&
        number - stall_from_write_ < stalled_writes_) {
        for (int pass = 0; waiting(); ++pass) {
            if (pass > kIdlePassesBeforeFailure) {
                throw std::logic_error("a write on a stalled line was never given up");
            }
        }
        timeline_.push_back("given up " + Hex(bytes));
        writes_.emplace_back();
        return {0, true};
    }
    for (int pass = 0; pass < passes_per_write_; ++pass) {
        waiting();
    }
    timeline_.push_back("write " + Hex(bytes));
    writes_.emplace_back(bytes);
    write_sizes_.push_back(bytes.size());
    return {static_cast<int>(bytes.size()), false};
}

bool FakeSession::IsHeld(int virtual_key) {
    const bool held_by_pass = SimulatedSession::IsHeld(virtual_key);
    if (!esc_answers_.empty()) {
        bool held = esc_answers_.front();
        esc_answers_.pop_front();
        return held;
    }
    if (held_by_pass) {
        return true;
    }
    // Idle means the wait has pumped twice in a row with nothing left to deliver: a
    // byte just taken from the buffer does not make the remote quiet yet.
    if (esc_when_idle_ && idle_refreshes_ >= 2) {
        return true;
    }
    if (idle_refreshes_ > kIdlePassesBeforeFailure) {
        throw std::logic_error("the command loop kept waiting after the remote went quiet");
    }
    return false;
}

void FakeSession::SysRefresh() {
    SimulatedSession::SysRefresh();
    auto arrival = arrivals_.find(Refreshes());
    if (arrival != arrivals_.end()) {
        Received().Append(arrival->second);
    }
    idle_refreshes_ = RemoteDone() && Received().empty() ? idle_refreshes_ + 1 : 0;
    if (Refreshes() == end_at_refresh_) {
        window_ended_ = true;
        timeline_.push_back("window ended");
    }
}

bool FakeSession::WaitForMessages(int timeout_ms) {
    const bool esc_coming = SimulatedSession::WaitForMessages(timeout_ms);
    ++waits_;
    longest_wait_ms_ = std::max(longest_wait_ms_, timeout_ms);
    wait_timeouts_.push_back(timeout_ms);
    // A message is on its way while the script still has something to deliver at a
    // later pump pass; otherwise the wait runs out with nothing.
    const bool scripted = esc_coming || !RemoteDone() || end_at_refresh_ > Refreshes();
    if (!scripted) {
        ++idle_refreshes_;
    }
    return scripted;
}

void FakeSession::Sleep(int milliseconds) {
    timeline_.push_back("sleep " + std::to_string(milliseconds));
}

void FakeSession::Append(std::string_view text) {
    // Record the appended line, as the log shows it, without its CR LF.
    log_text_ += text;
    if (text.ends_with("\r\n")) {
        text.remove_suffix(2);
    }
    timeline_.push_back("log " + std::string(text));
}

void FakeSession::ShowAppended() {
    ++shows_;
    shown_log_ = log_text_;
    if (record_shows_) {
        timeline_.push_back("show");
    }
}

void FakeSession::EndWindow() {
    ++end_requests_;
    timeline_.push_back("end");
    window_ended_ = window_ended_ || accept_end_;
}

}  // namespace kestrel::testing
