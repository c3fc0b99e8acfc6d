// POPMSG over the platform: MessageBoxA, Beep, OemToCharBuffA, the please-wait
// window and the framework's message pump.
#include <windows.h>

#include "common/oem_text_win32.h"
#include "common/popmsg.h"
#include "common/wait_window_win32.h"
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

    void CloseWaitWindow() override { CloseOpenWaitWindow(); }

    std::unique_ptr<WaitBox> OpenWaitBox(const std::string& text,
                                         std::optional<std::string_view> title,
                                         const WaitRequest& request) override {
        return TMsgBox::New(text, title, request.nMin, request.nMax, request.lPrint);
    }

    int ProgressPosition(int position) override {
        OSVERSIONINFOA version{};
        version.dwOSVersionInfoSize = sizeof version;
        if (!GetVersionExA(&version)) {
            return position;
        }
        return ProgressPositionFor(position, static_cast<int>(version.dwMajorVersion),
                                   static_cast<int>(version.dwMinorVersion));
    }

    void Tone() override { Beep(kToneHertz, kToneMilliseconds); }

    int ShowMessageBox(const std::string& text, const std::string& title,
                       unsigned box_style) override {
        return MessageBoxA(GetActiveWindow(), text.c_str(), title.c_str(), box_style);
    }

    void Refresh() override { ui::SYSREFRESH(); }
};

}  // namespace

PopAnswer POPMSG(std::optional<std::string_view> text, std::optional<int> kind,
                 std::optional<std::string_view> title, const WaitRequest& wait) {
    Win32PopupServices services;
    return PopMessage(services, text, kind, title, wait);
}

}  // namespace kestrel::common
