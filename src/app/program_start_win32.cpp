#include "app/program_start_win32.h"

#include <windows.h>
#include <ole2.h>

#include "common/library_state.h"
#include "common/startup_procedures_win32.h"
#include "common/tables/shared_tables_startup.h"
#include "errors/errorsys_win32.h"
#include "errors/program_run.h"
#include "ui/framework_startup_win32.h"

namespace kestrel::app {

void RunLibraryProgram(const std::function<void()>& initialize_module_values,
                       const std::function<void()>& main) {
    HRESULT ole = E_FAIL;
    errors::RunProgram({
        .initialize_module_values =
            [&] {
                common::ResetLibrary();
                common::RegisterTables();
                initialize_module_values();
            },
        .install_error_callback = [] { errors::ERRORSYS(); },
        .start_components = [&ole] { ole = OleInitialize(nullptr); },
        .stop_components =
            [&ole] {
                if (SUCCEEDED(ole)) {
                    OleUninitialize();
                }
            },
        .startup = {{"INIT", common::LibraryStartup}, {"framework", ui::FrameworkStartup}},
        .main = main,
        .shutdown = {{"EXIT", common::LibraryShutdown}, {"framework", ui::FrameworkShutdown}},
    });
}

}  // namespace kestrel::app
