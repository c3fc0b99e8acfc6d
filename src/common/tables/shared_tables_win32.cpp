#include "common/tables/shared_tables_win32.h"

#include <algorithm>
#include <chrono>

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

double PlatformSharedTableServices::SecondsSinceMidnight() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return (now.wHour * 60.0 + now.wMinute) * 60.0 + now.wSecond + now.wMilliseconds / 1000.0;
}

void PlatformSharedTableServices::Pause(std::chrono::milliseconds pause) {
    Sleep(static_cast<DWORD>(pause.count()));
}

// Waits on the thread's message queue, so a message ends the wait at once; each
// wake-up handles everything that is waiting (SYSREFRESH) and waits again for what
// is left of the pause. A quit message is posted again for the program's own loop
// (SYSREFRESH does so itself while a modal run is in progress) and, since it would
// wake every later wait at once, the rest of the pause is slept.
void PlatformSharedTableServices::PauseHandlingMessages(std::chrono::milliseconds pause) {
    // The steady clock, not the tick count: Wine's tick count moves in steps of
    // about 16 ms, which would cut a 40 ms pause to 25.
    using SteadyClock = std::chrono::steady_clock;
    const SteadyClock::time_point deadline = SteadyClock::now() + pause;
    const auto left_of = [deadline] {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
        return static_cast<DWORD>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
    };
    for (DWORD left = left_of(); left > 0; left = left_of()) {
        const DWORD woken =
            MsgWaitForMultipleObjectsEx(0, nullptr, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken == WAIT_TIMEOUT) {
            return;
        }
        if (woken != WAIT_OBJECT_0) {
            Sleep(left);  // the wait itself failed: still no spin
            return;
        }
        if (!ui::SYSREFRESH()) {
            if (!ui::LWRUNNING()) {
                PostQuitMessage(0);
            }
            Sleep(left_of());
            return;
        }
    }
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
