#pragma once

#include <windows.h>

#include <commctrl.h>

namespace kestrel::ui {

// Registers the window classes of the platform's common controls named by
// `classes` (ICC_* bits). Repeating a registration is harmless.
inline void RegisterCommonControls(DWORD classes) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), classes};
    InitCommonControlsEx(&controls);
}

}  // namespace kestrel::ui
