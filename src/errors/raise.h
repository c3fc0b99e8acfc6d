#pragma once

#include <functional>
#include <optional>

#include "errors/error_record.h"

namespace kestrel::errors {

// What the error callback gives back to the operation that failed: a substitute
// value for its result, or false to make a defaultable operation fail softly. No
// answer at all means the callback handled the error by other means.
struct ErrorAnswer {
    std::optional<double> substitute;
    bool fail_softly = false;
};

using ErrorCallback = std::function<ErrorAnswer(const ErrorRecord&)>;

// Installs the one error callback of the process, replacing the previous one.
void SetErrorCallback(ErrorCallback callback);

// Hands an error to the installed callback and returns its answer. With no
// callback installed the error escapes to the caller as Abandon.
ErrorAnswer RaiseError(const ErrorRecord& record);

// How a failure leaves the routine that met it. Both are exceptions so that every
// object on the way out releases what it holds; callback boundaries keep them and
// raise them again once the platform call has returned (ui/pending_failure.h).
//
// Abandon: the failed operation is given up; the nearest enclosing recovery point
// of a calling routine (a try/catch of Abandon that chooses the failure value)
// takes over and the program goes on.
struct Abandon {
    ErrorRecord record;
};

// EndProgram: the error handler's final report has been shown and the quit message
// posted; the program ends. Only the outermost recovery point, around MAIN, catches
// it, and then runs the shut-down procedures.
struct EndProgram {};

}  // namespace kestrel::errors
