#include "common/shared_tables_win32.h"

#include "common/popmsg.h"
#include "common/startup_procedures_win32.h"
#include "common/wait_window.h"
#include "errors/raise.h"
#include "ui/current_dir.h"
#include "ui/message_pump.h"

namespace kestrel::common {

PlatformSharedTableServices::~PlatformSharedTableServices() {
    EnableDisabledWindow();
}

long PlatformSharedTableServices::SecondsSinceMidnight() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return (now.wHour * 60L + now.wMinute) * 60L + now.wSecond;
}

void PlatformSharedTableServices::ProcessMessages() {
    ui::SYSREFRESH();
}

std::optional<std::string> PlatformSharedTableServices::WaitText() {
    return CURMSG();
}

void PlatformSharedTableServices::OpenWait(std::string_view text,
                                           std::optional<std::string_view> title) {
    POPMSG(text, std::nullopt, title);
}

void PlatformSharedTableServices::CloseWait() {
    CloseOpenWaitWindow();
}

void PlatformSharedTableServices::DisableActiveWindow() {
    EnableDisabledWindow();  // one window at a time
    HWND active = GetActiveWindow();
    if (active != nullptr) {
        EnableWindow(active, FALSE);
        disabled_ = active;
    }
}

void PlatformSharedTableServices::EnableDisabledWindow() {
    if (disabled_ != nullptr) {
        if (IsWindow(disabled_)) {
            EnableWindow(disabled_, TRUE);
        }
        disabled_ = nullptr;
    }
}

void PlatformSharedTableServices::Inform(std::string_view text) {
    POPMSG(text, kPopInformation);
}

std::string PlatformSharedTableServices::CurrentDirectory() {
    return ui::CurrentDirectory();
}

bool PlatformSharedTableServices::ChangeDirectory(const std::string& path) {
    return SetCurrentDirectoryA(path.c_str()) != 0;
}

std::string PlatformSharedTableServices::CurrentDrive() {
    const std::string drive = ui::CURDRIVE();
    if (drive.empty() || drive == "\\") {
        return drive;
    }
    return drive + ":";
}

std::optional<std::uint64_t> PlatformSharedTableServices::FreeSpace(const std::string& drive) {
    ULARGE_INTEGER available{};
    const std::string root = drive + "\\";
    if (!GetDiskFreeSpaceExA(root.c_str(), &available, nullptr, nullptr)) {
        return std::nullopt;
    }
    return available.QuadPart;
}

std::string PlatformSharedTableServices::NewTempName() {
    return GETNEWFNAME(LocalClock);
}

void PlatformSharedTableServices::EndProgram() {
    PostQuitMessage(0);
    throw errors::EndProgram{};
}

}  // namespace kestrel::common
