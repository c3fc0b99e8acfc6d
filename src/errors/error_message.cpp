#include "errors/error_message.h"

#include "base/blank.h"
#include "errors/source_frame.h"

namespace kestrel::errors {

std::string ERRORMESSAGE(const ErrorRecord& oErr) {
    std::string text = oErr.SEVERITY > 1 ? "Error " : "Warning ";
    text += oErr.SUBSYSTEM ? *oErr.SUBSYSTEM : "???";
    text += oErr.SUBCODE ? "/" + std::to_string(*oErr.SUBCODE) : "/???";
    if (oErr.DESCRIPTION) {
        text += "  " + *oErr.DESCRIPTION;
    }
    if (!base::IsBlank(oErr.FILENAME)) {
        text += ": " + oErr.FILENAME;
    } else if (!base::IsBlank(oErr.OPERATION)) {
        text += ": " + oErr.OPERATION;
    }
    const int skip = oErr.SUBSYSTEM == "DBCMD" ? 1 : 0;
    const ReportingRoutine routine = InnermostRoutine(skip);
    text += ";Function: " + routine.name + "  Line: " + std::to_string(routine.line);
    return text;
}

}  // namespace kestrel::errors
