#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/library_state.h"

namespace kestrel::common {

// The common library's start-up procedure INIT and shut-down procedure EXIT, and
// the temporary names they clear. Every temporary file or directory the library
// makes has a name that begins with TempPrefix (character 127).
inline constexpr char kTempPrefix = '\x7f';

// One entry of a directory listing.
struct DirEntry {
    std::string name;
    bool directory = false;
    bool hidden_or_system = false;
};

// What INIT and EXIT need of the file system and the process. Directory arguments
// are empty (the current directory) or end in a path separator.
class LibraryFiles {
  public:
    virtual ~LibraryFiles() = default;
    virtual std::vector<DirEntry> List(const std::string& directory) = 0;
    // Deletes a file; `even_read_only` clears its read-only attribute first, and
    // gives the file its attributes back when it cannot be deleted all the same.
    virtual bool RemoveFile(const std::string& path, bool even_read_only) = 0;
    // Removes an empty directory (REMOVEDIR).
    virtual bool RemoveDir(const std::string& path) = 0;
    // True when the file exists and cannot be opened for exclusive use.
    virtual bool HeldOpen(const std::string& path) = 0;
    virtual bool Exists(const std::string& path) = 0;
    // The TEMP environment variable, nothing when it is not set.
    virtual std::optional<std::string> TempVariable() = 0;
    // The root of the current drive, e.g. "C:\".
    virtual std::string CurrentDriveRoot() = 0;
    // Lets the platform report a missing disk to the program instead of asking.
    virtual void FailCriticalErrors() = 0;
    virtual void CloseFile(std::intptr_t file) = 0;
};

void INIT(LibraryFiles& files);
// Closes the open wait window, if any, then the tables; then the logged-in user's
// files, if any.
void EXIT(LibraryFiles& files);

// Closes every table and index through the registered modules' steps (every work
// area closed, area 1 selected) and deletes the view indexes (TempPrefix, "VIEW",
// anything, ".NTX") in the library's temporary directory.
void CLOSEALL(LibraryFiles& files);

// Deletes every file in `directory`, hidden and read-only ones included; stops at the
// first file it cannot delete and then answers false. Subdirectories are left.
bool DELDIR(LibraryFiles& files, const std::string& directory);

// The user variables, by name (case does not matter).
std::optional<UserValue> GetUserVariable(std::string_view name);
void SetUserVariable(std::string_view name, UserValue value);

// A moment as GETNEWFNAME reads it.
struct ClockReading {
    int year = 0;
    int month = 0;
    int day = 0;
    long hundredths = 0;  // hundredths of seconds since midnight
};
using Clock = std::function<ClockReading()>;

// TempPrefix, the date as eight digits year-month-day and the hundredths.
std::string TempName(const ClockReading& moment);

// A new temporary name; waits until the clock gives a different name before it
// returns, so two calls never give the same one.
std::string GETNEWFNAME(const Clock& now);

// Adds a module's steps to INIT and CLOSEALL (library_state.h). The start-up
// code registers its modules once the state has its initial values.
void RegisterLibraryModule(LibraryModule module);

}  // namespace kestrel::common
