#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kestrel::errors {

// The order in which the process starts and ends:
//   1. every module's module-wide variables get their initial values;
//   2. the error callback is installed (ERRORSYS);
//   3. the platform's component layer starts;
//   4. the start-up procedures run in link order (the common library's INIT, then
//      the window framework's);
//   5. MAIN runs;
//   6. the shut-down procedures run in the same order (the library's EXIT, then the
//      framework's); one that ends with a request to quit or to abandon skips the
//      rest;
//   7. the component layer stops.
// Steps 4 and 5 run inside the outermost recovery point: an Abandon that no routine
// caught, and the error handler's EndProgram, end them and go on with step 6. Any
// other exception that reaches it is an error nothing anticipated: it is raised to
// the error callback as a "BASE" error, whose final report ends the program the same
// way. A failed start-up procedure skips MAIN.
struct Procedure {
    std::string name;
    std::function<void()> run;
};

struct ProgramOrder {
    std::function<void()> initialize_module_values;
    std::function<void()> install_error_callback;
    std::function<void()> start_components;
    std::function<void()> stop_components;
    std::vector<Procedure> startup;
    std::function<void()> main;
    std::vector<Procedure> shutdown;
};

void RunProgram(const ProgramOrder& order);

}  // namespace kestrel::errors
