// POPMSG over the platform: MessageBoxA, Beep, OemToCharBuffA and the framework's
// message pump.
#include <windows.h>

#include "common/oem_text_win32.h"
#include "common/popmsg.h"
#include "ui/message_pump.h"

namespace kestrel::common {

namespace {

static_assert(MB_OK == 0x0 && MB_OKCANCEL == 0x1 && MB_YESNOCANCEL == 0x3 && MB_YESNO == 0x4 &&
              MB_ICONSTOP == 0x10 && MB_ICONQUESTION == 0x20 && MB_ICONINFORMATION == 0x40 &&
              MB_DEFBUTTON2 == 0x100);
static_assert(IDOK == kButtonOk && IDCANCEL == kButtonCancel && IDYES == kButtonYes &&
              IDNO == kButtonNo);

constexpr DWORD kToneHertz = 880;
constexpr DWORD kToneMilliseconds = 55;  // one tick of 1/18.2 s

class Win32PopupServices final : public PopupServices {
  public:
    std::string OemToAnsi(std::string_view text) override { return common::OemToAnsi(text); }

    // The hook for the please-wait window: once the library can open one, this is
    // where it is closed before any box shows. No wait window exists yet, so there
    // is nothing to close.
    void CloseWaitWindow() override {}

    void Tone() override { Beep(kToneHertz, kToneMilliseconds); }

    int ShowMessageBox(const std::string& text, const std::string& title,
                       unsigned box_style) override {
        return MessageBoxA(GetActiveWindow(), text.c_str(), title.c_str(), box_style);
    }

    void Refresh() override { ui::SYSREFRESH(); }
};

}  // namespace

PopAnswer POPMSG(std::optional<std::string_view> text, int kind,
                 std::optional<std::string_view> title) {
    Win32PopupServices services;
    return PopMessage(services, text, kind, title);
}

}  // namespace kestrel::common
