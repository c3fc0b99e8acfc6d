#include "ui/button_win32.h"

#include <cctype>

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

bool TButton::HasHotKey(int key) const {
    const std::string caption = hWnd != nullptr ? GetText() : caption_;
    for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&') {
            continue;
        }
        const auto hot = static_cast<unsigned char>(caption[i + 1]);
        if (hot == '&') {
            ++i;  // "&&" shows one "&"
            continue;
        }
        // Letters and digits: their virtual-key code is the upper-case character.
        return hot < 128 && std::toupper(hot) == key;
    }
    return false;
}

EventResult TButton::Click(int notification) {
    if (notification != BN_CLICKED || !bAction) {
        return EventResult::None();
    }
    bAction();
    return EventResult::Number(0);
}

}  // namespace kestrel::ui
