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
// callback installed the error escapes to the caller as an exception.
ErrorAnswer RaiseError(const ErrorRecord& record);

// The failure of an operation escaping to the nearest enclosing recovery point.
struct Abandon {
    ErrorRecord record;
};

}  // namespace kestrel::errors
