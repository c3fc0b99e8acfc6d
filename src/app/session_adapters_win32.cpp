#include "app/session_adapters_win32.h"

#include "common/popmsg.h"
#include "ui/message_pump.h"

namespace kestrel::app {

void MultiGetLog::ShowAppended() {
    control_.ShowAppended();
    if (scroll_wanted_) {
        control_.GoBottom();
        scroll_wanted_ = false;
    }
}

void MultiGetLog::EndWindow() {
    if (auto* dialog = dynamic_cast<ui::TDialog*>(control_.oWnd)) {
        dialog->End();
    }
}

void DialogNotifyTarget::SetCommNotify(CommNotifyCallback callback) {
    dialog_.bCommNotify = [callback = std::move(callback)](WPARAM port, LPARAM status) {
        callback(static_cast<serial::PortHandle>(port), static_cast<int>(status));
        return ui::EventResult::None();
    };
}

bool MultiGetLog::WindowEnded() {
    auto* dialog = dynamic_cast<ui::TDialog*>(control_.oWnd);
    return dialog == nullptr || dialog->IsEnded();
}

void FrameworkPump::SysRefresh() {
    ui::SYSREFRESH();
}

bool FrameworkPump::WaitForMessages(int timeout_ms) {
    return ui::WaitForMessage(timeout_ms);
}

void PopupMessages::PopMsg(std::string_view text) {
    common::POPMSG(text, common::kPopInformation);
}

}  // namespace kestrel::app
