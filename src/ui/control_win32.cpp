#include "ui/control_win32.h"

#include "serial/key_state.h"
#include "ui/dialog_win32.h"
#include "ui/framework_errors.h"
#include "ui/framework_state_win32.h"

namespace kestrel::ui {

Binding BindTo(std::string& variable) {
    return {[&variable] { return variable; },
            [&variable](std::string value) { variable = std::move(value); },
            [&variable](std::string_view text) { variable.append(text); }};
}

int NextControlId() {
    int& last = Framework().last_control_id;
    last = last >= 30000 ? 100 : last + 1;
    return last;
}

void TControl::Attach(TDialog& owner) {
    oWnd = &owner;
    if (owner.hWnd == nullptr) {
        owner.DefControl(*this);
        return;
    }
    hWnd = CreateWindowExA(nExStyle, TemplateClass().c_str(), "", nStyle, nLeft, nTop,
                           nRight - nLeft + 1, nBottom - nTop + 1, owner.hWnd,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(nId)),
                           GetModuleHandleA(nullptr), nullptr);
    owner.aControls.push_back(this);
    if (hWnd != nullptr) {
        Initiate(owner.hWnd);
    }
}

void TControl::Place(const Placement& where) {
    nTop = where.top;
    nLeft = where.left;
    nBottom = where.top + where.height - 1;
    nRight = where.left + where.width - 1;
    nId = where.resource_id.value_or(NextControlId());
    TDialog* owner = where.owner != nullptr ? where.owner : Framework().default_window;
    if (owner != nullptr) {
        Attach(*owner);
    }
}

void TControl::Initiate(HWND dialog) {
    hWnd = GetDlgItem(dialog, nId);
    if (hWnd == nullptr) {
        RaiseFrameworkError(FrameworkError::kNonDefinedId, ControlIdOperation(nId));
        return;
    }
    EnableWindow(hWnd, TRUE);
    Link();
    auto* owner = dynamic_cast<TDialog*>(oWnd);
    if (oFont != nullptr) {
        SendMsg(WM_SETFONT, reinterpret_cast<WPARAM>(oFont->get()), FALSE);
    } else if (owner != nullptr && owner->oFont != nullptr) {
        SendMsg(WM_SETFONT, reinterpret_cast<WPARAM>(owner->oFont), FALSE);
    }
    if (bInit) {
        bInit(*this);
    }
}

void TControl::AdjClient() {
    if (oWnd == nullptr || oWnd->hWnd == nullptr || hWnd == nullptr) {
        return;
    }
    RECT client{};
    GetClientRect(oWnd->hWnd, &client);
    const bool owner_is_child = (GetWindowLongPtrA(oWnd->hWnd, GWL_STYLE) & WS_CHILD) != 0;
    if (owner_is_child) {
        MoveWindow(hWnd, 0, 0, client.right, client.bottom + 1, TRUE);
    } else {
        // The control's own border is pushed just outside the visible client area.
        MoveWindow(hWnd, -1, -1, client.right + 2, client.bottom + 3, TRUE);
    }
}

std::string TControl::GetText() const {
    if (hWnd == nullptr) {
        return {};
    }
    const int length = GetWindowTextLengthA(hWnd);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(hWnd, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

void TControl::SetColor(COLORREF text, COLORREF pane) {
    nClrText = text;
    nClrPane = pane;
    if (hWnd != nullptr) {
        InvalidateRect(hWnd, nullptr, TRUE);
    }
}

EventResult TControl::Colors(HDC dc) {
    SetTextColor(dc, nClrText);
    SetBkColor(dc, nClrPane);
    if (pane_brush_.get() == nullptr || pane_brush_colour_ != nClrPane) {
        pane_brush_.Reset(CreateSolidBrush(nClrPane));
        pane_brush_colour_ = nClrPane;
    }
    return EventResult::Number(reinterpret_cast<LRESULT>(pane_brush_.get()));
}

namespace {

// The platform's message for an F1 key that reached a window procedure, which the
// platform's default handling turns into WM_HELP.
constexpr UINT kWmKeyF1 = 0x004D;

// True for a check box or radio button window, of either kind (auto or not).
bool IsCheckOrRadio(HWND window) {
    char class_name[16] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    if (lstrcmpiA(class_name, "Button") != 0) {
        return false;
    }
    switch (GetWindowLongPtrA(window, GWL_STYLE) & BS_TYPEMASK) {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE:
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON:
            return true;
        default:
            return false;
    }
}

}  // namespace

EventResult TControl::HandleEvent(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_HELP:
            return HelpTopic();
        case kWmKeyF1:
            // The F1 key-down has run the key table's handler already (KeyDown): the
            // help that this message would ask for again is not asked twice.
            return EventResult::Number(0);
        case WM_UPDATEUISTATE:
            return UpdateUiState(wparam, lparam);
        case kFwClick:
            return Click(HIWORD(wparam));
        case kFwChange:
            return Change(static_cast<int>(wparam), lparam);
        case kFwColors:
            return Colors(reinterpret_cast<HDC>(wparam));
        case kFwValid:
            return Validate(reinterpret_cast<HWND>(wparam));
        case WM_KEYUP:
            return KeyUp(static_cast<int>(wparam), lparam);
        case WM_KILLFOCUS:
            return KillFocus(reinterpret_cast<HWND>(wparam));
        case WM_SYSKEYDOWN:
            return SysKeyDown(static_cast<int>(wparam), lparam);
        case WM_SYSCHAR:
            return SysChar(static_cast<int>(wparam), lparam);
        case WM_PAINT:
            return EventResult::None();  // the platform control paints itself
        default:
            return TWindow::HandleEvent(message, wparam, lparam);
    }
}

EventResult TControl::KeyDown(int key, LPARAM flags) {
    HWND dialog = oWnd != nullptr ? oWnd->hWnd : nullptr;
    if (key == VK_TAB) {
        if (dialog != nullptr) {
            const bool back = serial::GETKEYSTATE(VK_SHIFT);
            HWND next = GetNextDlgTabItem(dialog, hWnd, back ? TRUE : FALSE);
            if (next != nullptr) {
                SetFocus(next);
            }
        }
        return EventResult::Number(0);
    }
    if (RunKeyHandler(key) || key == VK_F1) {
        return EventResult::Number(0);
    }
    if (bKeyDown) {
        bKeyDown(key, flags);
    }
    if (oWnd != nullptr) {
        EventResult owner = oWnd->KeyDown(key, flags);
        if (owner.IsNumber()) {
            return owner;
        }
    }
    return EventResult::None();
}

EventResult TControl::KeyUp(int key, LPARAM flags) {
    if (bKeyUp) {
        bKeyUp(key, flags);
    }
    return EventResult::None();
}

EventResult TControl::SysKeyDown(int key, LPARAM flags) {
    constexpr LPARAM kAltDown = LPARAM{1} << 29;
    auto* owner = dynamic_cast<TDialog*>(oWnd);
    if (owner == nullptr || (flags & kAltDown) == 0) {
        return EventResult::None();
    }
    for (TControl* control : owner->aControls) {
        HWND button = control->hWnd;
        if (button != nullptr && IsWindowEnabled(button) && IsWindowVisible(button) &&
            control->HasHotKey(key)) {
            // The character this key makes would have the platform's dialog
            // navigation press the button a second time: it is taken off the queue.
            MSG character;
            PeekMessageA(&character, hWnd, WM_SYSCHAR, WM_SYSCHAR, PM_REMOVE);
            SendMessageA(button, BM_CLICK, 0, 0);
            return EventResult::Number(0);
        }
    }
    return EventResult::None();  // Alt+F4 and the like reach the platform
}

EventResult TControl::SysChar(int, LPARAM) {
    return EventResult::None();
}

EventResult TControl::KillFocus(HWND next) {
    if (bValid && hWnd != nullptr) {
        PostMessageA(hWnd, kFwValid, reinterpret_cast<WPARAM>(next), 0);
    }
    return LostFocus(next);
}

EventResult TControl::HelpTopic() {
    // Claimed when the handler ran; otherwise the platform hands the request on to
    // the owner.
    return RunKeyHandler(VK_F1) ? EventResult::Number(TRUE) : EventResult::None();
}

EventResult TControl::UpdateUiState(WPARAM wparam, LPARAM lparam) {
    const LRESULT answer = nOldProc != nullptr
                               ? CallWindowProcA(nOldProc, hWnd, WM_UPDATEUISTATE, wparam, lparam)
                               : DefWindowProcA(hWnd, WM_UPDATEUISTATE, wparam, lparam);
    if (hWnd != nullptr && oWnd != nullptr && oWnd->hWnd != nullptr && IsCheckOrRadio(hWnd)) {
        InvalidateRect(oWnd->hWnd, nullptr, TRUE);
    }
    return EventResult::Number(answer);
}

EventResult TControl::Change(int key, LPARAM flags) {
    if (bChange) {
        bChange(key, flags, *this);
    }
    return EventResult::Number(0);
}

namespace {

// The outermost dialog the control belongs to (a folder page's dialog is owned by
// the folder, which belongs to a dialog), or null.
TDialog* OutermostDialog(TWindow* owner) {
    TDialog* found = nullptr;
    for (TWindow* window = owner; window != nullptr; window = window->oWnd) {
        if (auto* dialog = dynamic_cast<TDialog*>(window)) {
            found = dialog;
        }
    }
    return found;
}

// Marks a dialog as validating for the span of one validation.
class Validating {
  public:
    explicit Validating(TDialog& dialog) : dialog_(dialog) { dialog_.lValidating = true; }
    Validating(const Validating&) = delete;
    Validating& operator=(const Validating&) = delete;
    ~Validating() { dialog_.lValidating = false; }

  private:
    TDialog& dialog_;
};

}  // namespace

EventResult TControl::Validate(HWND next) {
    TDialog* dialog = OutermostDialog(oWnd);
    if (!bValid || hWnd == nullptr || dialog == nullptr || dialog->IsEnded() ||
        dialog->lValidating) {
        return EventResult::Number(0);
    }
    HWND top = GetAncestor(hWnd, GA_ROOT);
    if (next == nullptr || (next != top && !IsChild(top, next))) {
        return EventResult::Number(0);  // another program, or a box bValid itself shows
    }
    bool valid = true;
    {
        Validating running(*dialog);
        valid = bValid(*this);
    }
    if (!valid && hWnd != nullptr && IsWindow(hWnd)) {
        SetFocus(hWnd);
    }
    return EventResult::Number(0);
}

}  // namespace kestrel::ui
