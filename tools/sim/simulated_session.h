#pragma once

#include <limits>
#include <string_view>

#include "app/receive_buffer.h"
#include "app/session_services.h"

namespace kestrel::sim {

// The session's port, keyboard, message pump, pauses and log control in one object,
// with no port and no window behind them, so the command loop can run off the
// platform: a write goes out whole at once, a pause and a wait return at once, and
// the log keeps nothing. The message pump counts its passes, and the operator's Esc
// is scripted by pass. What the remote machine sends is put into the receive buffer
// by whoever plays it (a subclass, between passes). Each seam can be overridden to
// watch or change it; an override calls the base to keep the passes and Esc.
class SimulatedSession : public app::PortWriter,
                         public app::KeyState,
                         public app::MessagePump,
                         public app::Pause,
                         public app::LogView {
  public:
    explicit SimulatedSession(app::ReceiveBuffer& received) : received_(received) {}

    app::SessionServices Services() { return {*this, *this, *this, *this}; }

    // Esc is held from the n-th SysRefresh on (counting from 1), and released again at
    // the `until`-th.
    void HoldEscFromRefresh(int refresh, int until = std::numeric_limits<int>::max()) {
        esc_from_refresh_ = refresh;
        esc_until_refresh_ = until;
    }
    int Refreshes() const { return refreshes_; }

    app::WriteOutcome Write(serial::PortHandle port, std::string_view bytes,
                            const Waiting& waiting) override;
    // Only Esc is ever polled by the session: any other key is a misuse
    // (std::logic_error).
    bool IsHeld(int virtual_key) override;
    void SysRefresh() override { ++refreshes_; }
    bool WaitForMessages(int timeout_ms) override;
    void Sleep(int /*milliseconds*/) override {}
    void Append(std::string_view /*text*/) override {}
    void ShowAppended() override {}
    void GoBottom() override {}
    // The window refuses the loop's own end request, as with F4 held.
    void EndWindow() override {}
    bool WindowEnded() override { return false; }

  protected:
    app::ReceiveBuffer& Received() { return received_; }
    // Whether Esc goes down at a pass still to come.
    bool EscComing() const { return esc_from_refresh_ > refreshes_; }

  private:
    app::ReceiveBuffer& received_;
    int refreshes_ = 0;
    int esc_from_refresh_ = -1;
    int esc_until_refresh_ = std::numeric_limits<int>::max();
};

}  // namespace kestrel::sim
