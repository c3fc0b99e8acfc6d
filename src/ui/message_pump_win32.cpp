// SYSREFRESH: drains the thread's message queue once and returns. Long-running
// routines (the command loop first of all) call it between polls, so every window
// stays alive and the port's receive notifications are delivered while they run.
// It never waits. It may run nested: a handler it dispatches may call it again.
#include "ui/message_pump.h"

#include <windows.h>

#include <utility>

#include "ui/framework_state_win32.h"

namespace kestrel::ui {

namespace {

bool OfferToModelessDialogs(MSG& msg) {
    return Framework().modeless.Offer([&msg](ModelessList::Handle dialog) {
        return IsDialogMessageA(reinterpret_cast<HWND>(dialog), &msg) != FALSE;
    });
}

}  // namespace

bool SYSREFRESH() {
    FrameworkState& fw = Framework();
    // The accelerator table is held by the outermost call; nested calls run without it.
    HACCEL accelerator = std::exchange(fw.accelerator, nullptr);
    struct Restore {
        HACCEL accelerator;
        ~Restore() { Framework().accelerator = accelerator; }
    } restore{accelerator};

    bool quit = false;
    MSG msg{};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quit = true;
            break;
        }
        if (OfferToModelessDialogs(msg)) {
            continue;
        }
        if (accelerator != nullptr && fw.main_window != nullptr &&
            TranslateAcceleratorA(fw.main_window, accelerator, &msg)) {
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        fw.failure.Rethrow();  // a handler's failure continues in the routine that pumped
    }
    if (quit && fw.loop_running) {
        PostQuitMessage(0);  // the running modal loop must end as well
    }
    return !quit;
}

bool LWRUNNING() {
    return Framework().loop_running;
}

}  // namespace kestrel::ui
