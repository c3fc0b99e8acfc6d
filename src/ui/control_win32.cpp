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
    if (owner != nullptr && owner->oFont != nullptr) {
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

EventResult TControl::HandleEvent(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case kFwClick:
            return Click(HIWORD(wparam));
        case kFwColors:
            return Colors(reinterpret_cast<HDC>(wparam));
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
    if (key == VK_F1) {
        return EventResult::Number(0);
    }
    if (oWnd != nullptr) {
        EventResult owner = oWnd->KeyDown(key, flags);
        if (owner.IsNumber()) {
            return owner;
        }
    }
    return EventResult::None();
}

}  // namespace kestrel::ui
