#include <windows.h>

#include "serial/key_state.h"

namespace kestrel::serial {

bool GETASYNCKEY(int virtual_key) {
    return AsyncKeyIsDown(GetAsyncKeyState(virtual_key));
}

bool GETASYNCKEYSTATE(std::optional<int> virtual_key) {
    return GETASYNCKEY(virtual_key.value_or(0));
}

bool GETKEYSTATE(int virtual_key) {
    return KeyWasDown(GetKeyState(virtual_key));
}

bool GETKEYTOGGLE(int virtual_key) {
    return KeyIsDownOrToggled(GetKeyState(virtual_key));
}

void SLEEP(int milliseconds) {
    Sleep(PauseMilliseconds(milliseconds));
}

}  // namespace kestrel::serial
