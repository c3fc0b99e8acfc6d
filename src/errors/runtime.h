#pragma once

#include <string>

#include "errors/error_record.h"

namespace kestrel::errors {

// The runtime's helpers for operations that can fail where no routine expects it.
// Each raises an error record to the error callback and gives the callback's answer
// back to its caller; when the callback abandons, the failure leaves through them.

// a / b; a division by zero raises "BASE" 1340 (zero divide) and yields the
// callback's substitute (0 under the program's handler).
double Divide(double a, double b);

// A failed file operation: raises "BASE" with the operation, the file and the
// platform's error code. Returns false when the callback failed it softly (only
// when `can_default`), true when the callback let it go on.
bool FileOperationFailed(const std::string& operation, const std::string& file, int os_code,
                         int gen_code, bool can_default);

}  // namespace kestrel::errors
