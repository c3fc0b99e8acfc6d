#pragma once

#include "app/port_session.h"
#include "app/session_services.h"
#include "ui/dialog_win32.h"
#include "ui/multiget_win32.h"

namespace kestrel::app {

// The session window's log control as the command loop sees it.
class MultiGetLog : public LogView {
  public:
    explicit MultiGetLog(ui::TMultiGet& control) : control_(control) {}
    void Append(std::string_view text) override { control_.Append(text, false); }
    void GoBottom() override { scroll_wanted_ = true; }
    void ShowAppended() override;
    void EndWindow() override;
    bool WindowEnded() override;

  private:
    ui::TMultiGet& control_;
    bool scroll_wanted_ = false;  // GoBottom asked since the last ShowAppended
};

// The session window as the port session sees it: where notifications go, and
// where the notification callback is installed.
class DialogNotifyTarget : public CommNotifyWindow {
  public:
    explicit DialogNotifyTarget(ui::TDialog& dialog) : dialog_(dialog) {}
    serial::WindowHandle hWnd() const override {
        return reinterpret_cast<serial::WindowHandle>(dialog_.hWnd);
    }
    void SetCommNotify(CommNotifyCallback callback) override;

  private:
    ui::TDialog& dialog_;
};

// SYSREFRESH of the window framework.
class FrameworkPump : public MessagePump {
  public:
    void SysRefresh() override;
    bool WaitForMessages(int timeout_ms) override;
};

// The port session's messages as information boxes titled "Attenzione".
class PopupMessages : public OperatorMessages {
  public:
    void PopMsg(std::string_view text) override;
};

}  // namespace kestrel::app
