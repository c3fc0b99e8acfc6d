#include "common/startup_procedures.h"

#include <chrono>
#include <thread>

#include "base/ascii_case.h"
#include "base/blank.h"
#include "common/wait_window.h"

namespace kestrel::common {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

std::string AsDirectory(std::string path) {
    if (!path.empty() && !IsSeparator(path.back())) {
        path += '\\';
    }
    return path;
}

bool IsTempName(const std::string& name) {
    return !name.empty() && name.front() == kTempPrefix;
}

// A directory named by GETNEWFNAME: its last component begins with TempPrefix.
bool IsLibraryTempDirectory(std::string path) {
    while (!path.empty() && IsSeparator(path.back())) {
        path.pop_back();
    }
    const std::size_t separator = path.find_last_of("\\/");
    const std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
    return IsTempName(name);
}

bool IsViewIndex(const std::string& name) {
    const std::string upper = base::UpperAscii(name);
    const std::string head = std::string(1, kTempPrefix) + "VIEW";
    return upper.size() >= head.size() + 4 && upper.starts_with(head) && upper.ends_with(".NTX");
}

// Leftover temporary files of earlier runs in the current directory; directories,
// hidden and system files are not matched.
void ClearCurrentDirectory(LibraryFiles& files) {
    for (const DirEntry& entry : files.List("")) {
        if (IsTempName(entry.name) && !entry.directory && !entry.hidden_or_system) {
            files.RemoveFile(entry.name, false);
        }
    }
}

// Leftover temporary directories of earlier runs in TEMP. A directory whose USER
// file is held open belongs to an instance that is still running and is left whole:
// emptying it up to the USER file would delete that instance's files in whatever
// order the listing gives them.
void ClearTempDirectory(LibraryFiles& files) {
    const std::optional<std::string> temp = files.TempVariable();
    const std::string root = temp ? AsDirectory(*temp) : files.CurrentDriveRoot();
    for (const DirEntry& entry : files.List(root)) {
        if (!IsTempName(entry.name) || !entry.directory) {
            continue;  // a plain file that matches stays
        }
        const std::string directory = root + entry.name;
        if (files.HeldOpen(directory + "\\USER")) {
            continue;
        }
        DELDIR(files, directory + "\\");
        files.RemoveDir(directory);
    }
}

}  // namespace

bool DELDIR(LibraryFiles& files, const std::string& directory) {
    for (const DirEntry& entry : files.List(directory)) {
        if (!entry.directory && !files.RemoveFile(directory + entry.name, true)) {
            return false;
        }
    }
    return true;
}

void INIT(LibraryFiles& files) {
    LibraryState& library = Library();
    for (const LibraryModule& module : library.modules) {
        if (module.at_init) {
            module.at_init();
        }
    }
    library.user_variables.clear();
    SetUserVariable("ACS_USER", std::string("USER"));
    SetUserVariable("ACS_TEMP", std::string());
    SetUserVariable("ACS_PASSWD", std::string());
    SetUserVariable("ACS_LEVEL", 1);
    ClearCurrentDirectory(files);
    ClearTempDirectory(files);
    files.FailCriticalErrors();
}

void CLOSEALL(LibraryFiles& files) {
    LibraryState& library = Library();
    for (const LibraryModule& module : library.modules) {
        if (module.at_closeall) {
            module.at_closeall();
        }
    }
    const std::string& directory = library.temp_directory;
    for (const DirEntry& entry : files.List(directory)) {
        if (!entry.directory && IsViewIndex(entry.name)) {
            files.RemoveFile(directory + entry.name, false);
        }
    }
}

void EXIT(LibraryFiles& files) {
    // A wait window still open is closed while the window framework, whose shut-down
    // follows, still stands: left to the end of the process, it would close itself
    // on framework state already destroyed.
    CloseOpenWaitWindow();
    CLOSEALL(files);
    LibraryState& library = Library();
    if (base::IsBlank(library.user_name)) {
        return;
    }
    if (library.user_file != 0) {
        files.CloseFile(library.user_file);
        library.user_file = 0;
    }
    // Only a temporary directory the library made is emptied: with none set, the
    // directory would be the current one, full of the user's own files.
    if (IsLibraryTempDirectory(library.temp_directory)) {
        const std::string directory = AsDirectory(library.temp_directory);
        DELDIR(files, directory);
        files.RemoveDir(directory.substr(0, directory.size() - 1));
    }
    if (files.Exists("C:\\MARLIN\\NET")) {
        const std::size_t end = library.user_name.find_last_not_of(' ');
        files.RemoveFile("C:\\MARLIN\\" + library.user_name.substr(0, end + 1) + ".USR", false);
    }
}

std::optional<UserValue> GetUserVariable(std::string_view name) {
    const auto& variables = Library().user_variables;
    const auto found = variables.find(base::UpperAscii(name));
    if (found == variables.end()) {
        return std::nullopt;
    }
    return found->second;
}

void SetUserVariable(std::string_view name, UserValue value) {
    Library().user_variables[base::UpperAscii(name)] = std::move(value);
}

void RegisterLibraryModule(LibraryModule module) {
    Library().modules.push_back(std::move(module));
}

std::string TempName(const ClockReading& moment) {
    const int date = moment.year * 10000 + moment.month * 100 + moment.day;
    std::string digits = std::to_string(date);
    digits.insert(0, 8 - std::min<std::size_t>(8, digits.size()), '0');
    return std::string(1, kTempPrefix) + digits + std::to_string(moment.hundredths);
}

std::string GETNEWFNAME(const Clock& now) {
    const std::string name = TempName(now());
    // The clock moves on within a hundredth of a second: look again each
    // millisecond until it has, instead of reading it without pause.
    while (TempName(now()) == name) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return name;
}

}  // namespace kestrel::common
