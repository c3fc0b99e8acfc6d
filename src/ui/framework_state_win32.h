#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <vector>

#include "ui/modeless_list.h"
#include "ui/pending_failure.h"

namespace kestrel::ui {

class TWindow;
class TDialog;

// A modal run waiting for, or bound to, its dialog window.
struct PendingDialog {
    HWND hWnd = nullptr;        // null until the run's first message binds it
    TDialog* dialog = nullptr;  // null when the slot is free
};

// All module-wide state of the window framework, in one place. Everything here is
// used on the window thread only.
struct FrameworkState {
    // The window table: linked windows by 1-based index (the index is kept in the
    // window's user-data word); null entries are free and reused first.
    std::vector<TWindow*> windows;

    // Modal runs, innermost at the cursor; the cursor starts at the top and moves
    // down by one per nested run.
    static constexpr int kPendingSlots = 50;
    std::array<PendingDialog, kPendingSlots> pending{};
    int pending_cursor = kPendingSlots;

    ModelessList modeless;              // modeless dialogs offered keyboard navigation
    bool loop_running = false;          // a framework modal run is in progress (LWRUNNING)
    HACCEL accelerator = nullptr;       // the active accelerator table; none in this program
    HWND main_window = nullptr;         // the application's main window; none in this program
    int activations = 0;                // Activate calls in progress
    int last_control_id = 100;          // the identifier the last control took
    bool dialog_esc = true;             // SETDIALOGESC: Esc ends a dialog
    bool center_on_parent = false;      // SETCENTERONPARENT
    TDialog* default_window = nullptr;  // where controls built without an owner go
    PendingFailure failure;             // a failure caught at a callback boundary
    ULONG_PTR gdiplus_token = 0;        // the run's GDI+ session; 0 when not started
};

FrameworkState& Framework();

}  // namespace kestrel::ui
