#pragma once

#include <optional>
#include <string>

namespace kestrel::errors {

// One runtime error, as the layer that raised it describes it. The error callback
// reads these fields to decide what becomes of the failed operation. A layer may
// leave the subsystem, the subcode or the description out; the report then says so.
struct ErrorRecord {
    int SEVERITY = 2;                      // 1 = warning, greater than 1 = error
    std::optional<std::string> SUBSYSTEM;  // the raising layer, e.g. "BASE", "DBCMD"
    std::optional<int> SUBCODE = 0;        // the layer's own error number
    int GENCODE = 0;  // general class: 5 division by zero, 21 open, 32 corruption, 40 append lock
    int OSCODE = 0;   // the platform's error code of a failed system call, 0 when none
    std::optional<std::string> DESCRIPTION;  // the raising layer's description
    std::string FILENAME;                    // the file or drive concerned, may be empty
    std::string OPERATION;                   // the operation or name concerned, may be empty
    bool CANDEFAULT = false;                 // the operation may fail softly
};

// General error classes that the error handler tells apart.
inline constexpr int kGenZeroDivide = 5;
inline constexpr int kGenOpen = 21;
inline constexpr int kGenCorruption = 32;
inline constexpr int kGenDataType = 33;   // a value the field cannot hold (an impossible date)
inline constexpr int kGenDataWidth = 34;  // a number too wide for its field
inline constexpr int kGenAppendLock = 40;
inline constexpr int kGenReportAndAbandon = 1001;

// The platform's (Windows) error codes of failed system calls (OSCODE) that the
// error handler and the layers that raise errors tell apart.
inline constexpr int kOsFileNotFound = 2;
inline constexpr int kOsPathNotFound = 3;
inline constexpr int kOsAccessDenied = 5;
inline constexpr int kOsWriteProtected = 19;
inline constexpr int kOsNotReady = 21;
inline constexpr int kOsSectorNotFound = 27;
inline constexpr int kOsGeneralFailure = 31;
inline constexpr int kOsSharingViolation = 32;
inline constexpr int kOsLockViolation = 33;
inline constexpr int kOsFileExists = 80;
inline constexpr int kOsCannotMake = 82;
inline constexpr int kOsDiskFull = 112;

// The table layer's subcodes that the error handler tells apart.
inline constexpr int kSubDiskFull = 2016;
inline constexpr int kSubCorruption = 1012;

}  // namespace kestrel::errors
