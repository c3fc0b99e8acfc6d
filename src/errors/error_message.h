#pragma once

#include <string>

#include "errors/error_record.h"

namespace kestrel::errors {

// ERRORMESSAGE: the one-text description of an error that the error handler shows:
// "Error " or "Warning ", the subsystem and "/" subcode ("???" for either when
// missing), two blanks and the description, ": " and the file name or else the
// operation (whichever is not blank), then ";Function: " with the reporting routine, two blanks and
// "Line: " with its line. For "DBCMD" errors the innermost routine is passed over.
std::string ERRORMESSAGE(const ErrorRecord& oErr);

}  // namespace kestrel::errors
