#include "ui/multiget_win32.h"

#include "serial/key_state.h"
#include "ui/dialog_win32.h"
#include "ui/framework_state_win32.h"

namespace kestrel::ui {

namespace {

DWORD MultiGetStyle(const MultiGetOptions& o) {
    DWORD style = WS_CHILD | WS_VISIBLE | ES_WANTRETURN | ES_MULTILINE | WS_TABSTOP;
    if (o.horizontal_scroll) {
        style |= WS_HSCROLL;
    }
    if (o.centered) {
        style |= ES_CENTER;
    }
    if (o.right_aligned) {
        style |= ES_RIGHT;
    }
    if (o.read_only) {
        style |= ES_READONLY;
    }
    if (!o.no_border) {
        style |= WS_BORDER;
    }
    if (!o.no_vertical_scroll) {
        style |= WS_VSCROLL;
    }
    return style;
}

constexpr int kCtrlC = 3;
constexpr int kCtrlV = 22;
constexpr int kCtrlX = 24;
constexpr int kCtrlZ = 26;

}  // namespace

TMultiGet::TMultiGet(const MultiGetOptions& options) {
    nTop = options.top;
    nLeft = options.left;
    nBottom = nTop + options.height - 1;
    nRight = nLeft + options.width - 1;
    bSetGet = options.binding;
    oFont = options.font;
    oCursor = options.cursor;
    cMsg = options.message;
    lUpdate = options.update;
    bWhen = options.when;
    lReadOnly = options.read_only;
    bValid = options.valid;
    bChange = options.change;
    nStyle = MultiGetStyle(options);
    nExStyle = WS_EX_CLIENTEDGE;
    nId = NextControlId();
    nClrText = options.text_colour.value_or(GetSysColor(COLOR_WINDOWTEXT));
    nClrPane = options.pane_colour.value_or(GetSysColor(COLOR_WINDOW));
    TDialog* owner = options.owner != nullptr ? options.owner : Framework().default_window;
    if (owner != nullptr) {
        Attach(*owner);
    }
}

void TMultiGet::Initiate(HWND dialog) {
    TControl::Initiate(dialog);
    if (hWnd == nullptr) {
        return;
    }
    SendMsg(EM_LIMITTEXT, static_cast<WPARAM>(nLen), 0);
    Show(DisplayableText(VarGet()));
}

void TMultiGet::Refresh() {
    if (hWnd == nullptr || !bSetGet.get) {
        return;
    }
    std::string text = DisplayableText(VarGet());
    const bool only_appended = lReadOnly && !shown_.empty() && text.size() > shown_.size() &&
                               text.compare(0, shown_.size(), shown_) == 0;
    if (!only_appended) {
        Show(std::move(text));
        return;
    }
    // A log only grows: appending the new lines gives the same text as rewriting it
    // whole, without the control laying out the whole log again for every line.
    AddToWindow(text.substr(shown_.size()));
    pending_.clear();
}

void TMultiGet::AddToWindow(const std::string& added) {
    const auto end = static_cast<WPARAM>(GetWindowTextLengthA(hWnd));
    SendMsg(EM_SETSEL, end, static_cast<LPARAM>(end));
    SendMsg(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added.c_str()));
    shown_ += added;
}

void TMultiGet::Append(std::string_view text, bool show_now) {
    if (bSetGet.append) {
        bSetGet.append(text);
    } else if (bSetGet.get && bSetGet.set) {
        bSetGet.set(bSetGet.get() + std::string(text));
    }
    pending_ += DisplayableText(std::string(text));
    if (show_now) {
        ShowAppended();
    }
}

void TMultiGet::ShowAppended() {
    if (hWnd == nullptr || !bSetGet.get || pending_.empty()) {
        return;
    }
    AddToWindow(pending_);
    pending_.clear();
}

void TMultiGet::Show(std::string text) {
    SetWindowTextA(hWnd, text.c_str());
    shown_ = std::move(text);
    pending_.clear();  // the whole bound text shows now
}

void TMultiGet::GoBottom() {
    const auto end = static_cast<WPARAM>(GetWindowTextLengthA(hWnd) + 1);
    SendMsg(EM_SETSEL, end, static_cast<LPARAM>(end));
    const LRESULT lines = SendMsg(EM_GETLINECOUNT);
    SendMsg(EM_LINESCROLL, 0, lines);
}

int TMultiGet::GetPos() const {
    return LOWORD(SendMsg(EM_GETSEL));
}

EventResult TMultiGet::HandleEvent(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CUT:
        case WM_PASTE:
        case WM_CLEAR:
            if (lReadOnly) {
                return EventResult::Number(0);
            }
            CallWindowProcA(nOldProc, hWnd, message, wparam, lparam);
            Change(0, 0);
            return EventResult::Number(0);
        default:
            return TControl::HandleEvent(message, wparam, lparam);
    }
}

EventResult TMultiGet::KeyDown(int key, LPARAM flags) {
    if (key == VK_ESCAPE) {
        if (oWnd != nullptr) {
            oWnd->KeyDown(key, flags);
        }
        return EventResult::Number(0);
    }
    if (key == VK_DELETE && !bKeyDown) {
        if (lReadOnly && !lDelete) {
            return EventResult::Number(0);
        }
        CallWindowProcA(nOldProc, hWnd, WM_KEYDOWN, static_cast<WPARAM>(key), flags);
        Change(key, flags);
        return EventResult::Number(0);
    }
    return TControl::KeyDown(key, flags);
}

EventResult TMultiGet::KeyChar(int key, LPARAM flags) {
    if (key < 32 && serial::GETKEYSTATE(VK_CONTROL)) {
        if (key == kCtrlC) {
            return EventResult::None();  // copying changes nothing
        }
        if (key == kCtrlV || key == kCtrlX || key == kCtrlZ) {
            CallWindowProcA(nOldProc, hWnd, WM_CHAR, static_cast<WPARAM>(key), flags);
            Change(key, flags);
            return EventResult::Number(0);
        }
        return EventResult::Number(0);
    }
    if (lReadOnly || key == VK_TAB || key == VK_ESCAPE) {
        return EventResult::Number(0);
    }
    CallWindowProcA(nOldProc, hWnd, WM_CHAR, static_cast<WPARAM>(key), flags);
    Change(key, flags);
    return EventResult::Number(0);
}

EventResult TMultiGet::GotFocus(HWND) {
    if (lReadOnly) {
        const int pos = GetPos();
        PostMessageA(hWnd, EM_SETSEL, static_cast<WPARAM>(pos), pos);
    } else if (serial::GETKEYSTATE(VK_TAB)) {
        PostMessageA(hWnd, EM_SETSEL, 0, -1);
    }
    return EventResult::None();
}

EventResult TMultiGet::LostFocus(HWND) {
    // The window's text goes back to the bound variable, read-only or not, when it is
    // no longer what the program put there: the user typed, or another program set
    // it. Text the program put there unchanged is not written back, because the
    // bound text may hold more than the window shows: lines appended and not shown
    // yet, and the zero bytes that show as blanks.
    if (hWnd == nullptr) {
        return EventResult::None();
    }
    std::string text = GetText();
    if (text != shown_) {
        shown_ = text;
        pending_.clear();
        VarPut(std::move(text));
    }
    return EventResult::None();
}

EventResult TMultiGet::LButtonDown(int row, int column, WPARAM) {
    const LRESULT hit = SendMsg(EM_CHARFROMPOS, 0, MAKELPARAM(column, row));
    const WPARAM pos = LOWORD(hit);
    PostMessageA(hWnd, EM_SETSEL, pos, static_cast<LPARAM>(pos));
    return EventResult::None();
}

}  // namespace kestrel::ui
