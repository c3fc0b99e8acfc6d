#include "errors/raise.h"

namespace kestrel::errors {

namespace {

ErrorCallback& InstalledCallback() {
    static ErrorCallback callback;  // the process's one error callback
    return callback;
}

}  // namespace

void SetErrorCallback(ErrorCallback callback) {
    InstalledCallback() = std::move(callback);
}

ErrorAnswer RaiseError(const ErrorRecord& record) {
    const ErrorCallback& callback = InstalledCallback();
    if (!callback) {
        throw Abandon{record};
    }
    return callback(record);
}

}  // namespace kestrel::errors
