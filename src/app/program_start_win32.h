#pragma once

#include <functional>

namespace kestrel::app {

// Runs a program of the library the way each one starts and ends (the order is
// errors/program_run.h's): the module values (the library's and its tables', then
// the program's own, `initialize_module_values`), the error callback (ERRORSYS),
// OLE, the library's INIT and the window framework's start-up, `main`, the library's
// EXIT and the framework's shut-down, and OLE again (only when it started).
void RunLibraryProgram(const std::function<void()>& initialize_module_values,
                       const std::function<void()>& main);

}  // namespace kestrel::app
