#pragma once

#include <string>
#include <string_view>

#include "errors/error_record.h"
#include "errors/raise.h"

namespace kestrel::errors {

// What the error handler needs of the rest of the program; the platform's version is
// in errorsys_win32.cpp, tests observe their own.
class ErrorHandlerServices {
  public:
    virtual ~ErrorHandlerServices() = default;
    // SUNLOCK: releases the library's shared semaphore lock if one is held.
    virtual void ReleaseSemaphore() = 0;
    // POPMSG kind 1: an information box titled "Attenzione".
    virtual void Inform(std::string_view text) = 0;
    // POPMSG kind 2: an OK/Cancel question box titled "Attenzione"; true for OK.
    virtual bool Ask(std::string_view text) = 0;
    // The full path of the program's own file.
    virtual std::string ProgramPath() = 0;
    // Opens an address through the platform shell (default verb, normal window).
    virtual void OpenWithShell(const std::string& address) = 0;
    // Sets the table layer's network-error flag (NETERR).
    virtual void SetNetworkError() = 0;
    // Posts the quit message to the message loop.
    virtual void PostQuit() = 0;
};

// The question that follows the report text after an empty line.
inline constexpr std::string_view kSendReportQuestion = ";;Inviare rapporto di errore via email?";

// DEFERROR: sorts an error into its outcome, trying fourteen rules in order.
// - A disk, directory or file error: the message, then Abandon is thrown.
// - A division by zero: the answer substitutes 0, nothing is shown.
// - A defaultable sharing violation on open, or append lock: NETERR is set and the
//   answer fails the operation softly.
// - Anything else: the final report, then EndProgram is thrown.
ErrorAnswer DEFERROR(const ErrorRecord& oErr, ErrorHandlerServices& services);

}  // namespace kestrel::errors
