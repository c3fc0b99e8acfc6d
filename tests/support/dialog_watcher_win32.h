#pragma once

// Watches the dialog windows of the calling thread: message boxes, the file dialog
// and the framework's dialogs, which that thread runs in modal loops of their own.
//
// Hooks on the thread itself see each top-level dialog being shown (its
// WM_WINDOWPOSCHANGED with SWP_SHOWWINDOW, after its WM_INITDIALOG) and post the
// dialog a marker; when the dialog's loop takes the marker, the dialog has taken
// every message queued at its opening (a focus move, a layout request) and shows.
// Its pending paints are then done, and each watcher whose captions match is handed
// the dialog, on this thread, inside the dialog's loop: it may read the dialog or
// answer it (post a button's WM_COMMAND). Nothing polls and no other thread is
// involved. Watchers may overlap; each is handed every dialog it wants.

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/probe_windows_win32.h"

namespace kestrel::testing {

class DialogWatcher {
  public:
    using Seen = std::function<void(HWND dialog)>;

    // `captions` empty: every dialog.
    explicit DialogWatcher(Seen seen, std::vector<std::string> captions = {})
        : seen_(std::move(seen)), captions_(std::move(captions)) {
        if (watchers_.empty()) {
            shown_hook_ =
                SetWindowsHookExA(WH_CALLWNDPROCRET, Shown, nullptr, GetCurrentThreadId());
            marker_hook_ = SetWindowsHookExA(WH_GETMESSAGE, Taken, nullptr, GetCurrentThreadId());
        }
        watchers_.push_back(this);
    }
    DialogWatcher(const DialogWatcher&) = delete;
    DialogWatcher& operator=(const DialogWatcher&) = delete;
    ~DialogWatcher() {
        watchers_.erase(std::find(watchers_.begin(), watchers_.end(), this));
        if (watchers_.empty()) {
            UnhookWindowsHookEx(shown_hook_);
            UnhookWindowsHookEx(marker_hook_);
            shown_hook_ = marker_hook_ = nullptr;
        }
    }

  private:
    static UINT Marker() {
        static const UINT marker = RegisterWindowMessageA("KestrelTestDialogShown");
        return marker;
    }

    static bool IsDialog(HWND window) {
        return ClassOf(window) == "#32770" &&
               (GetWindowLongPtrA(window, GWL_STYLE) & WS_CHILD) == 0;
    }

    static LRESULT CALLBACK Shown(int code, WPARAM flag, LPARAM data) {
        const auto& call = *reinterpret_cast<const CWPRETSTRUCT*>(data);
        if (code == HC_ACTION && call.message == WM_WINDOWPOSCHANGED &&
            (reinterpret_cast<const WINDOWPOS*>(call.lParam)->flags & SWP_SHOWWINDOW) != 0 &&
            IsDialog(call.hwnd)) {
            PostMessageA(call.hwnd, Marker(), 0, 0);
        }
        return CallNextHookEx(nullptr, code, flag, data);
    }

    static LRESULT CALLBACK Taken(int code, WPARAM removal, LPARAM data) {
        auto& message = *reinterpret_cast<MSG*>(data);
        if (code == HC_ACTION && removal == PM_REMOVE && message.message == Marker()) {
            message.message = WM_NULL;  // the dialog itself never sees it
            Hand(message.hwnd);
        }
        return CallNextHookEx(nullptr, code, removal, data);
    }

    static void Hand(HWND dialog) {
        if (!IsWindowVisible(dialog)) {
            return;
        }
        for (HWND window : {GetWindow(dialog, GW_OWNER), dialog}) {
            if (window != nullptr) {
                RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            }
        }
        GdiFlush();
        const std::string caption = TextOf(dialog);
        const std::vector<DialogWatcher*> watchers = watchers_;  // a watcher may open dialogs
        for (DialogWatcher* watcher : watchers) {
            const auto& wanted = watcher->captions_;
            if (wanted.empty() ||
                std::find(wanted.begin(), wanted.end(), caption) != wanted.end()) {
                watcher->seen_(dialog);
            }
        }
    }

    Seen seen_;
    std::vector<std::string> captions_;
    // The watchers of the thread, and its two hooks while there are any.
    static inline thread_local std::vector<DialogWatcher*> watchers_;
    static inline thread_local HHOOK shown_hook_ = nullptr;
    static inline thread_local HHOOK marker_hook_ = nullptr;
};

}  // namespace kestrel::testing
