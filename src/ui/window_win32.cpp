// Dispatch from window messages to window objects.
//
// Linked windows (controls, modeless dialogs) carry their window-table index in the
// user-data word, and their window procedure is replaced by SubclassProc, which
// hands every message to the bound object's HandleEvent. A number returned by the
// object is the answer; anything else lets the window's previous procedure run.
// Modal dialogs reach their objects through the dialog procedure instead
// (dialog_run_win32.cpp). Everything here runs on the window thread; handlers run
// nested below whatever pumped the message, often below a still-running loop.
#include "ui/window_win32.h"

#include <windowsx.h>

#include "ui/framework_state_win32.h"
#include "ui/key_table.h"

namespace kestrel::ui {

FrameworkState& Framework() {
    static FrameworkState state;
    return state;
}

// Owns the window table's entries and the subclass procedure.
class WindowTable {
  public:
    static void Enter(TWindow& window) {
        std::vector<TWindow*>& table = Framework().windows;
        std::size_t index = 0;
        for (std::size_t i = 0; i < table.size(); ++i) {
            if (table[i] == nullptr) {
                index = i + 1;
                break;
            }
        }
        if (index == 0) {
            table.push_back(nullptr);
            index = table.size();
        }
        table[index - 1] = &window;
        window.table_index_ = index;
        SetWindowLongPtrA(window.hWnd, GWLP_USERDATA, static_cast<LONG_PTR>(index));
        window.nOldProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            window.hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc)));
    }

    static void Leave(TWindow& window) {
        if (window.table_index_ == 0) {
            return;
        }
        if (window.hWnd != nullptr && IsWindow(window.hWnd)) {
            SetWindowLongPtrA(window.hWnd, GWLP_WNDPROC,
                              reinterpret_cast<LONG_PTR>(window.nOldProc));
            SetWindowLongPtrA(window.hWnd, GWLP_USERDATA, 0);
        }
        window.nOldProc = nullptr;
        Framework().windows[window.table_index_ - 1] = nullptr;
        window.table_index_ = 0;
    }

    static TWindow* Find(HWND hwnd) {
        auto index = static_cast<std::size_t>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        const std::vector<TWindow*>& table = Framework().windows;
        if (index == 0 || index > table.size()) {
            return nullptr;
        }
        TWindow* window = table[index - 1];
        return window != nullptr && window->hWnd == hwnd ? window : nullptr;
    }

    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
        TWindow* window = Find(hwnd);
        if (window == nullptr) {
            return DefWindowProcA(hwnd, message, wparam, lparam);
        }
        WNDPROC previous = window->nOldProc;  // the object may unlink itself meanwhile
        EventResult result = Framework().failure.Guard(
            [&] { return window->HandleEvent(message, wparam, lparam); }, EventResult::None());
        if (result.IsNumber()) {
            return result.number();
        }
        if (previous != nullptr) {
            return CallWindowProcA(previous, hwnd, message, wparam, lparam);
        }
        return DefWindowProcA(hwnd, message, wparam, lparam);
    }
};

TWindow::~TWindow() {
    WindowTable::Leave(*this);
}

void TWindow::Link() {
    if (hWnd != nullptr && !IsLinked()) {
        WindowTable::Enter(*this);
    }
}

void TWindow::Unlink() {
    WindowTable::Leave(*this);
}

TWindow* LinkedWindow(HWND window) {
    return window == nullptr ? nullptr : WindowTable::Find(window);
}

LRESULT TWindow::SendMsg(UINT message, WPARAM wparam, LPARAM lparam) const {
    return hWnd == nullptr ? 0 : SendMessageA(hWnd, message, wparam, lparam);
}

EventResult TWindow::HandleEvent(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_DESTROY:
            return Destroy();
        case WM_SIZE:
            return ReSize(wparam, LOWORD(lparam), HIWORD(lparam));
        case WM_SETFOCUS:
            return GotFocus(reinterpret_cast<HWND>(wparam));
        case WM_KILLFOCUS:
            return LostFocus(reinterpret_cast<HWND>(wparam));
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hWnd, &ps);
            EventResult result = Paint(dc);
            EndPaint(hWnd, &ps);
            return result.IsNumber() ? result : EventResult::Number(0);
        }
        case WM_CLOSE:
            return Close(wparam);
        case WM_COMMNOTIFY_KESTREL:
            return CommNotify(wparam, lparam);
        case WM_GETDLGCODE:
            return GetDlgCode(wparam);
        case WM_KEYDOWN:
            return KeyDown(static_cast<int>(wparam), lparam);
        case WM_CHAR:
            return KeyChar(static_cast<int>(wparam), lparam);
        case WM_COMMAND:
            return Command(wparam, lparam);
        case WM_SYSCOMMAND:
            return SysCommand(wparam, lparam);
        case WM_QUERYENDSESSION:
            return QueryEndSession();
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORLISTBOX:
            return CtlColor(reinterpret_cast<HWND>(lparam), reinterpret_cast<HDC>(wparam));
        case WM_LBUTTONDOWN:
            return LButtonDown(GET_Y_LPARAM(lparam), GET_X_LPARAM(lparam), wparam);
        case WM_LBUTTONUP:
            return LButtonUp(GET_Y_LPARAM(lparam), GET_X_LPARAM(lparam), wparam);
        case WM_RBUTTONDOWN:
            return RButtonDown(GET_Y_LPARAM(lparam), GET_X_LPARAM(lparam), wparam);
        case WM_MOVE:
            return Moved(GET_Y_LPARAM(lparam), GET_X_LPARAM(lparam));
        case WM_SETCURSOR:
            return SetCursorShape(lparam);
        default:
            return EventResult::None();
    }
}

EventResult TWindow::Destroy() {
    Unlink();
    hWnd = nullptr;
    return EventResult::None();
}

EventResult TWindow::ReSize(WPARAM, int, int) {
    return EventResult::None();
}
EventResult TWindow::GotFocus(HWND) {
    return EventResult::None();
}
EventResult TWindow::LostFocus(HWND) {
    return EventResult::None();
}
EventResult TWindow::Paint(HDC dc) {
    if (bPainted) {
        bPainted(dc);
    }
    return EventResult::None();
}
EventResult TWindow::Close(WPARAM) {
    return EventResult::None();
}

EventResult TWindow::CommNotify(WPARAM wparam, LPARAM lparam) {
    return bCommNotify ? bCommNotify(wparam, lparam) : EventResult::None();
}

EventResult TWindow::GetDlgCode(WPARAM) {
    return EventResult::None();
}
EventResult TWindow::KeyDown(int key, LPARAM flags) {
    if (RunKeyHandler(key)) {
        return EventResult::Number(0);
    }
    if (bKeyDown) {
        bKeyDown(key, flags);
    }
    return EventResult::None();
}

bool TWindow::RunKeyHandler(int key) {
    KeyHandler handler = SETKEY(key);  // a copy: the handler may bind keys anew
    if (!handler) {
        return false;
    }
    handler(key, *this);
    return true;
}

EventResult TWindow::Help() {
    return RunKeyHandler(VK_F1) ? EventResult::Logical(true) : EventResult::None();
}

EventResult TWindow::KeyChar(int, LPARAM) {
    return EventResult::None();
}
EventResult TWindow::Command(WPARAM, LPARAM) {
    return EventResult::None();
}
EventResult TWindow::SysCommand(WPARAM, LPARAM) {
    return EventResult::None();
}
EventResult TWindow::QueryEndSession() {
    return EventResult::None();
}

EventResult TWindow::CtlColor(HWND child, HDC dc) {
    // The owner hands the colour request to the control, which knows its colours.
    TWindow* control = LinkedWindow(child);
    if (control == nullptr) {
        return EventResult::None();
    }
    LRESULT brush = control->SendMsg(kFwColors, reinterpret_cast<WPARAM>(dc), 0);
    return brush != 0 ? EventResult::Number(brush) : EventResult::None();
}

EventResult TWindow::LButtonDown(int row, int column, WPARAM flags) {
    if (bLClicked) {
        bLClicked(row, column, flags);
    }
    return EventResult::None();
}

EventResult TWindow::LButtonUp(int row, int column, WPARAM flags) {
    if (bLButtonUp) {
        bLButtonUp(row, column, flags);
    }
    return EventResult::None();  // a control's own window still ends its drag or press
}

EventResult TWindow::RButtonDown(int row, int column, WPARAM flags) {
    if (bRClicked) {
        bRClicked(row, column, flags);
    }
    return EventResult::None();
}

EventResult TWindow::Moved(int row, int column) {
    if (bMoved) {
        bMoved(row, column);
    }
    return EventResult::None();
}

EventResult TWindow::SetCursorShape(LPARAM hit_test) {
    if (oCursor == nullptr || LOWORD(hit_test) != HTCLIENT) {
        return EventResult::None();
    }
    SetCursor(oCursor);
    return EventResult::Number(TRUE);
}

void WNDCENTER(HWND window, HWND reference) {
    RECT outer{};
    RECT area{};
    GetWindowRect(window, &outer);
    if (reference == nullptr || !IsWindow(reference)) {
        reference = GetDesktopWindow();
    }
    GetWindowRect(reference, &area);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    const int left = area.left + (area.right - area.left) / 2 - width / 2;
    const int top = area.top + (area.bottom - area.top) / 2 - height / 2;
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace kestrel::ui
