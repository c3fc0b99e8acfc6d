#include "ui/get_win32.h"

#include "ui/dialog_win32.h"
#include "ui/input_rules.h"

namespace kestrel::ui {

TGet::TGet(const Placement& where, Binding binding, GetFormat format) : format_(format) {
    bSetGet = std::move(binding);
    nStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
    if (format_.kind == ValueKind::kNumber) {
        nStyle |= ES_RIGHT;
    }
    nClrText = GetSysColor(COLOR_WINDOWTEXT);
    nClrPane = GetSysColor(COLOR_WINDOW);
    Place(where);
}

bool TGet::BadDate() const {
    return format_.kind == ValueKind::kDate && BadDateText(GetText());
}

bool TGet::BadNumber() const {
    return format_.kind == ValueKind::kNumber &&
           BadNumberText(GetText(), format_.width, format_.decimals);
}

void TGet::Initiate(HWND dialog) {
    TControl::Initiate(dialog);
    if (format_.kind == ValueKind::kNumber) {
        SendMsg(EM_LIMITTEXT, static_cast<WPARAM>(format_.width), 0);
    }
    Refresh();
}

void TGet::Refresh() {
    if (hWnd == nullptr) {
        return;
    }
    showing_ = true;
    SetWindowTextA(hWnd, VarGet().c_str());
    showing_ = false;
}

EventResult TGet::Click(int notification) {
    if (notification == EN_CHANGE && !showing_) {
        VarPut(GetText());
        if (auto* owner = dynamic_cast<TDialog*>(oWnd)) {
            owner->lModify = true;
        }
    }
    return EventResult::None();
}

}  // namespace kestrel::ui
