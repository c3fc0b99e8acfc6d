// The program's entry point: the process's start-up order around MAIN, and its
// shut-down (errors/program_run.h has the order and the outermost recovery point).
#include <windows.h>
#include <ole2.h>

#include "app/main_win32.h"
#include "app/module_state.h"
#include "common/library_state.h"
#include "common/startup_procedures_win32.h"
#include "common/tables/shared_tables_startup.h"
#include "errors/errorsys_win32.h"
#include "errors/program_run.h"
#include "ui/framework_startup_win32.h"
#include "ui/framework_state_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    using namespace kestrel;
    HRESULT ole = E_FAIL;
    errors::RunProgram({
        .initialize_module_values =
            [] {
                app::TheTapeImage();
                app::TheReceiveBuffer();  // starts empty
                common::ResetLibrary();
                common::RegisterTables();
                ui::Framework();
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
        .main = app::MAIN,
        .shutdown = {{"EXIT", common::LibraryShutdown}, {"framework", ui::FrameworkShutdown}},
    });
    return 0;
}
