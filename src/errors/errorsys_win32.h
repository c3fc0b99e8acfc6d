#pragma once

#include "errors/deferror.h"

namespace kestrel::errors {

// The error handler's services over the platform: POPMSG for the boxes, the shell
// for the mail, GetModuleFileNameA for the program's path, PostQuitMessage.
class PlatformErrorServices final : public ErrorHandlerServices {
  public:
    void ReleaseSemaphore() override;
    void Inform(std::string_view text) override;
    bool Ask(std::string_view text) override;
    std::string ProgramPath() override;
    void OpenWithShell(const std::string& address) override;
    void SetNetworkError() override;
    void PostQuit() override;
};

// ERRORSYS: installs DEFERROR over `services` (the platform's when none is given)
// as the one error callback of the process, replacing whatever was installed.
// `services` must outlive the program's run.
void ERRORSYS(ErrorHandlerServices* services = nullptr);

}  // namespace kestrel::errors
