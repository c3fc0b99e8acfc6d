#include "errors/error_message.h"

#include <algorithm>

#include "errors/source_frame.h"
#include "ui/empty.h"  // IsBlankByte only: defined in the header, no link to the framework

namespace kestrel::errors {

namespace {

// The application's blank test: empty, or only blanks, tabs, line feeds and carriage
// returns.
bool IsBlank(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return ui::IsBlankByte(static_cast<unsigned char>(c)); });
}

}  // namespace

std::string ERRORMESSAGE(const ErrorRecord& oErr) {
    std::string text = oErr.SEVERITY > 1 ? "Error " : "Warning ";
    text += oErr.SUBSYSTEM ? *oErr.SUBSYSTEM : "???";
    text += oErr.SUBCODE ? "/" + std::to_string(*oErr.SUBCODE) : "/???";
    if (oErr.DESCRIPTION) {
        text += "  " + *oErr.DESCRIPTION;
    }
    if (!IsBlank(oErr.FILENAME)) {
        text += ": " + oErr.FILENAME;
    } else if (!IsBlank(oErr.OPERATION)) {
        text += ": " + oErr.OPERATION;
    }
    const int skip = oErr.SUBSYSTEM == "DBCMD" ? 1 : 0;
    const ReportingRoutine routine = InnermostRoutine(skip);
    text += ";Function: " + routine.name + "  Line: " + std::to_string(routine.line);
    return text;
}

}  // namespace kestrel::errors
