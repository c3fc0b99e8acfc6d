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

// How long a wait without a time limit pauses while a quit message is left.
constexpr DWORD kQuitLeftPauseMs = 50;

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

bool WaitForMessage(int timeout_ms) {
    // With a quit message left for a modal run, SYSREFRESH stops at it and leaves
    // what comes after (a paint, mouse moves) in the queue: every wait on messages
    // would end at once. The wait is then a plain pause: the caller tries again at
    // its own pace. Looking for the quit message dispatches nothing.
    MSG quit{};
    if (PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT,
                     PM_NOREMOVE | PM_NOYIELD | PM_QS_POSTMESSAGE)) {
        Sleep(timeout_ms < 0 ? kQuitLeftPauseMs : static_cast<DWORD>(timeout_ms));
        return false;
    }
    const DWORD timeout = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
    return MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE) !=
           WAIT_TIMEOUT;
}

bool LWRUNNING() {
    return Framework().loop_running;
}

}  // namespace kestrel::ui
