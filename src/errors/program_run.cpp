#include "errors/program_run.h"

#include <exception>

#include "errors/raise.h"

namespace kestrel::errors {

namespace {

// The subcode of a failure that no layer anticipated: the program's own fault.
constexpr int kSubUnanticipated = 9999;

ErrorRecord UnanticipatedError(const char* what) {
    ErrorRecord record;
    record.SUBSYSTEM = "BASE";
    record.SUBCODE = kSubUnanticipated;
    record.DESCRIPTION = what;
    return record;
}

// Runs `step`; true when it ended normally, false when it ended with a request to
// quit or to abandon. An exception that is neither becomes a runtime error first.
template <class Step>
bool Recover(Step&& step) {
    try {
        try {
            step();
            return true;
        } catch (const std::exception& unexpected) {
            RaiseError(UnanticipatedError(unexpected.what()));
            return false;
        }
    } catch (const Abandon&) {
        return false;
    } catch (const EndProgram&) {
        return false;
    } catch (const std::exception&) {
        return false;  // the error callback itself failed: nothing is left to report it
    }
}

}  // namespace

void RunProgram(const ProgramOrder& order) {
    order.initialize_module_values();
    order.install_error_callback();
    order.start_components();
    Recover([&] {
        for (const Procedure& procedure : order.startup) {
            procedure.run();
        }
        order.main();
    });
    for (const Procedure& procedure : order.shutdown) {
        if (!Recover(procedure.run)) {
            break;
        }
    }
    order.stop_components();
}

}  // namespace kestrel::errors
