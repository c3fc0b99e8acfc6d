#pragma once

#include <string>
#include <string_view>

#include "errors/error_record.h"

namespace kestrel::ui {

// The window framework's own errors. Each is an error (not defaultable) of the
// framework's subsystem, with the error number as subcode.
inline constexpr std::string_view kFrameworkSubsystem = "KESTRELUI";

enum class FrameworkError {
    kNonDefinedId = 1,        // a control's identifier is not in the dialog window
    kDuplicatedId = 2,        // a control attached twice with the same identifier
    kCannotCreateDialog = 3,  // the platform could not create the dialog
};

// "No: " and the identifier right-aligned in 6 characters.
std::string ControlIdOperation(int id);

// CR LF, 22 blanks, then "Resource: " and the resource name, or "Title: " and the
// caption when the dialog was built in memory.
std::string DialogOperation(std::string_view resource_name, std::string_view caption);

errors::ErrorRecord MakeFrameworkError(FrameworkError error, std::string operation);

// Hands a framework error to the process's error callback: the one way the
// framework reports its failures.
void RaiseFrameworkError(FrameworkError error, std::string operation);

}  // namespace kestrel::ui
