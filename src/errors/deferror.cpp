#include "errors/deferror.h"

#include <optional>

#include "base/ascii_case.h"
#include "errors/error_message.h"
#include "errors/mail_report.h"

namespace kestrel::errors {

namespace {

// The message of rules 1 to 10, or nothing when none of them matches.
std::optional<std::string> DiskOrFileMessage(const ErrorRecord& oErr) {
    const std::string x = base::UpperAscii(oErr.FILENAME);
    const int os = oErr.OSCODE;
    if (os == kOsNotReady) {
        return "Disco " + x + " non pronto.";
    }
    if (os == kOsSectorNotFound || os == kOsGeneralFailure) {
        return "Disco " + x + " non formattato.";
    }
    if (os == kOsWriteProtected) {
        return "Disco " + x + " protetto da scrittura.";
    }
    if (os == kOsCannotMake) {
        return "Directory " + x + " piena.";
    }
    if (oErr.SUBCODE == kSubDiskFull) {
        return "Spazio sul disco " + x + " insufficiente.";
    }
    if (os == kOsAccessDenied) {
        return "Impossibile accedere al file " + x + ".";
    }
    if (os == kOsPathNotFound) {
        return "Percorso " + x + " non trovato.";
    }
    if (os == kOsFileNotFound) {
        return "Impossibile aprire il file " + x + ".";
    }
    if (oErr.SUBCODE == kSubCorruption || oErr.GENCODE == kGenCorruption) {
        return "Il file " + x + " risulta corrotto.";
    }
    if (oErr.GENCODE == kGenReportAndAbandon) {
        return ERRORMESSAGE(oErr);
    }
    return std::nullopt;
}

bool IsSoftNetworkFailure(const ErrorRecord& oErr) {
    const bool shared_open = oErr.GENCODE == kGenOpen && oErr.OSCODE == kOsSharingViolation;
    return oErr.CANDEFAULT && (shared_open || oErr.GENCODE == kGenAppendLock);
}

[[noreturn]] void FinalReport(const ErrorRecord& oErr, ErrorHandlerServices& services) {
    services.ReleaseSemaphore();
    const std::string report = ERRORMESSAGE(oErr);
    if (services.Ask(report + std::string(kSendReportQuestion))) {
        services.OpenWithShell(ErrorReportAddress(services.ProgramPath(), report));
    }
    services.PostQuit();
    throw EndProgram{};
}

}  // namespace

ErrorAnswer DEFERROR(const ErrorRecord& oErr, ErrorHandlerServices& services) {
    if (std::optional<std::string> message = DiskOrFileMessage(oErr)) {
        services.ReleaseSemaphore();
        services.Inform(*message);
        throw Abandon{oErr};
    }
    if (oErr.GENCODE == kGenZeroDivide) {
        return {.substitute = 0.0, .fail_softly = false};
    }
    if (IsSoftNetworkFailure(oErr)) {
        services.SetNetworkError();
        return {.substitute = std::nullopt, .fail_softly = true};
    }
    FinalReport(oErr, services);
}

}  // namespace kestrel::errors
