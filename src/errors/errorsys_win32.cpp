#include "errors/errorsys_win32.h"

#include <windows.h>
#include <shellapi.h>

#include "common/library_state.h"
#include "common/popmsg.h"
#include "common/tables/shared_tables.h"
#include "common/tables/table_settings.h"

namespace kestrel::errors {

void PlatformErrorServices::ReleaseSemaphore() {
    common::SUNLOCK();
}

void PlatformErrorServices::Inform(std::string_view text) {
    common::POPMSG(text, common::kPopInformation);
}

bool PlatformErrorServices::Ask(std::string_view text) {
    const common::PopAnswer answer = common::POPMSG(text, common::kPopOkCancel);
    const bool* ok = std::get_if<bool>(&answer);
    return ok != nullptr && *ok;
}

std::string PlatformErrorServices::ProgramPath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), size);
        if (length < size) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);  // truncated: try again with more room
    }
}

void PlatformErrorServices::OpenWithShell(const std::string& address) {
    ShellExecuteA(nullptr, nullptr, address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void PlatformErrorServices::SetNetworkError() {
    common::Tables().settings.NETERR = true;
}

void PlatformErrorServices::PostQuit() {
    PostQuitMessage(0);
}

void ERRORSYS(ErrorHandlerServices* services) {
    static PlatformErrorServices platform;
    ErrorHandlerServices& chosen = services != nullptr ? *services : platform;
    SetErrorCallback([&chosen](const ErrorRecord& oErr) { return DEFERROR(oErr, chosen); });
}

}  // namespace kestrel::errors
