#pragma once

#include <cstdint>
#include <optional>

namespace kestrel::serial {

// Which part of the platform's 16-bit key-state answer counts for each routine.
// For the asynchronous query only the high byte counts: its bit 0 (pressed since the
// last query) is ignored, so a key pressed and released between two polls is not seen.
constexpr bool AsyncKeyIsDown(std::int16_t answer) {
    return (static_cast<std::uint16_t>(answer) & 0xFF00u) != 0;
}
constexpr bool KeyWasDown(std::int16_t answer) {
    return (static_cast<std::uint16_t>(answer) & 0x8000u) != 0;
}
constexpr bool KeyIsDownOrToggled(std::int16_t answer) {
    return answer != 0;
}

// A pause in milliseconds as the platform should see it: a negative duration would be
// read as an endless wait, so it becomes 0 (give up the rest of the time slice).
constexpr std::uint32_t PauseMilliseconds(int milliseconds) {
    return milliseconds < 0 ? 0u : static_cast<std::uint32_t>(milliseconds);
}

// Whether the key (virtual-key code) is down at this moment, read from the keyboard
// itself: no message needs to have been retrieved, and nothing is consumed.
bool GETASYNCKEY(int virtual_key);
// The common library's name for GETASYNCKEY; a missing key code names no key.
bool GETASYNCKEYSTATE(std::optional<int> virtual_key = {});
// Whether the key was down as of the last message the calling thread retrieved.
bool GETKEYSTATE(int virtual_key);
// Whether the key is down or its toggle (caps lock, num lock) is on.
bool GETKEYTOGGLE(int virtual_key);
// Holds the calling thread for the duration, retrieving no messages meanwhile.
void SLEEP(int milliseconds = 0);

}  // namespace kestrel::serial
