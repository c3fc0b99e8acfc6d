// The program's entry point: the module values of the tool and MAIN, run in the
// start-up and shut-down order of every program of the library
// (app/program_start_win32.h; errors/program_run.h has the order and the outermost
// recovery point).
#include <windows.h>

#include "app/main_win32.h"
#include "app/module_state.h"
#include "app/program_start_win32.h"
#include "ui/framework_state_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    using namespace kestrel;
    app::RunLibraryProgram(
        [] {
            app::TheTapeImage();
            app::TheReceiveBuffer();  // starts empty
            ui::Framework();
        },
        app::MAIN);
    return 0;
}
