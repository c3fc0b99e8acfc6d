#include "errors/runtime.h"

#include "errors/raise.h"

namespace kestrel::errors {

namespace {

constexpr int kSubZeroDivide = 1340;
constexpr int kSubFileOperation = 2000;

}  // namespace

double Divide(double a, double b) {
    if (b != 0.0) {
        return a / b;
    }
    ErrorRecord record;
    record.SUBSYSTEM = "BASE";
    record.SUBCODE = kSubZeroDivide;
    record.GENCODE = kGenZeroDivide;
    record.DESCRIPTION = "Zero divide";
    record.OPERATION = "/";
    const ErrorAnswer answer = RaiseError(record);
    return answer.substitute.value_or(0.0);
}

bool FileOperationFailed(const std::string& operation, const std::string& file, int os_code,
                         int gen_code, bool can_default) {
    ErrorRecord record;
    record.SUBSYSTEM = "BASE";
    record.SUBCODE = kSubFileOperation;
    record.GENCODE = gen_code;
    record.OSCODE = os_code;
    record.DESCRIPTION = "File operation failed";
    record.FILENAME = file;
    record.OPERATION = operation;
    record.CANDEFAULT = can_default;
    return !RaiseError(record).fail_softly;
}

}  // namespace kestrel::errors
