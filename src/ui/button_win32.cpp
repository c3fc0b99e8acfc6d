#include "ui/button_win32.h"

namespace kestrel::ui {

TButton::TButton(const Placement& where, std::string caption, std::function<void()> action,
                 bool default_button)
    : bAction(std::move(action)), caption_(std::move(caption)) {
    nStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP |
             static_cast<DWORD>(default_button ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    nClrText = GetSysColor(COLOR_BTNTEXT);
    nClrPane = GetSysColor(COLOR_BTNFACE);
    Place(where);
}

EventResult TButton::Click(int notification) {
    if (notification != BN_CLICKED || !bAction) {
        return EventResult::None();
    }
    bAction();
    return EventResult::Number(0);
}

}  // namespace kestrel::ui
