#include "sim/simulated_session.h"

#include <stdexcept>

namespace kestrel::sim {

app::WriteOutcome SimulatedSession::Write(serial::PortHandle /*port*/, std::string_view bytes,
                                          const Waiting& /*waiting*/) {
    return {static_cast<int>(bytes.size()), false};
}

bool SimulatedSession::IsHeld(int virtual_key) {
    if (virtual_key != app::kVkEscape) {
        throw std::logic_error("the command loop only ever polls Esc");
    }
    return esc_from_refresh_ >= 0 && refreshes_ >= esc_from_refresh_ &&
           refreshes_ < esc_until_refresh_;
}

bool SimulatedSession::WaitForMessages(int /*timeout_ms*/) {
    return EscComing();
}

}  // namespace kestrel::sim
