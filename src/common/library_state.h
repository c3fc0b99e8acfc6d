#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "common/wait_window.h"

namespace kestrel::common {

// The table layer's process-wide settings, fixed by INIT, and its network-error flag.
struct TableSettings {
    std::string driver = "DBFNTX";  // default table driver; INIT: compound index files
    int lock_scheme = 0;
    int memo_type = 1;
    std::string memo_extension = ".DBT";
    int auto_share = 0;                    // automatic sharing of opened tables
    std::string confirm = "OFF";           // confirm mode of text input fields
    bool century = false;                  // century display
    std::string date_format = "mm/dd/yy";  // how dates are written and read
    bool deleted_hidden = false;           // deleted records are hidden
    int epoch = 1900;                      // first year of the two-digit century window
    std::string file_case = "MIXED";       // file names given to file operations
    int printer_margin = 0;                // printer left margin, columns
    bool NETERR = false;                   // the last open or append failed on a conflict
};

class WorkAreas;
struct WorkAreasDeleter {
    void operator()(WorkAreas* areas) const;
};

// A user variable's value: a text or an integer.
using UserValue = std::variant<std::string, int>;

// All module-wide state of the common library, in one place. Used on the window
// thread only.
struct LibraryState {
    // True exactly while a dialog's close request is being decided (VALID): a
    // second request that arrives meanwhile, through the message loop of a box the
    // first one shows, is refused.
    bool validating = false;

    TableSettings tables;
    // The table layer's work areas and the tables open in them (table_layer.h).
    std::unique_ptr<WorkAreas, WorkAreasDeleter> work_areas;

    // The one open please-wait window, or none; and the text it shows (CURMSG),
    // none while no window is open.
    std::unique_ptr<WaitBox> wait_window;
    std::optional<std::string> wait_text;

    // The user variables (ACS_USER, ACS_TEMP, ACS_PASSWD, ACS_LEVEL), by name.
    std::map<std::string, UserValue, std::less<>> user_variables;

    // Set by the library's user-login routines only (this program has none).
    std::string user_name = std::string(8, ' ');  // blank: nobody logged in
    std::string password;
    // The tables the password is handed to when they are opened, as upper-case file
    // names ("CLIENTI.DBF").
    std::vector<std::string> protected_tables;
    std::string temp_directory;   // ends in a path separator when set
    std::intptr_t user_file = 0;  // the user file, held open for exclusive use; 0: none
};

LibraryState& Library();

// The state's initial values, as at the start of the process.
void ResetLibrary();

}  // namespace kestrel::common
