#pragma once

#include <windows.h>

#include "common/tables/shared_tables.h"

namespace kestrel::common {

// The shared-table routines' services over the platform: the local clock, pauses
// with and without the message pump (SYSREFRESH), the please-wait window (POPMSG
// and CURMSG), the active window, the information box, the current directory and
// drive, the free disk space, GETNEWFNAME and the quit message. Used on the
// user-interface thread. A test program may derive from it to watch the pack's
// steps.
class PlatformSharedTableServices : public SharedTableServices {
  public:
    PlatformSharedTableServices() = default;
    PlatformSharedTableServices(const PlatformSharedTableServices&) = delete;
    PlatformSharedTableServices& operator=(const PlatformSharedTableServices&) = delete;
    // Enables a window that is still disabled.
    ~PlatformSharedTableServices() override;

    double SecondsSinceMidnight() override;
    void Pause(std::chrono::milliseconds pause) override;
    void PauseHandlingMessages(std::chrono::milliseconds pause) override;
    std::optional<std::string> WaitText() override;
    void OpenWait(std::string_view text, std::optional<std::string_view> title) override;
    void CloseWait() override;
    void DisableActiveWindow() override;
    void EnableDisabledWindow() override;
    void Inform(std::string_view text) override;
    std::string CurrentDirectory() override;
    bool ChangeDirectory(const std::string& path) override;
    std::string CurrentDrive() override;
    std::optional<std::uint64_t> FreeSpace(const std::string& drive) override;
    std::string NewTempName() override;
    [[noreturn]] void EndProgram() override;

  private:
    // The window DisableActiveWindow disabled, until it is enabled again; written
    // and read on the user-interface thread only.
    HWND disabled_ = nullptr;
};

}  // namespace kestrel::common
