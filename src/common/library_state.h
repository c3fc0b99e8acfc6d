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

// A module above the library that takes part in its start-up and shut-down (the
// tables): INIT runs `at_init` before anything else it does, CLOSEALL runs
// `at_closeall` before it deletes the view indexes.
struct LibraryModule {
    std::function<void()> at_init;
    std::function<void()> at_closeall;
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

    // The modules registered with the start-up and shut-down procedures, in the
    // order of their registration.
    std::vector<LibraryModule> modules;

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

// The state's initial values, as at the start of the process: no module registered
// yet (RegisterLibraryModule).
void ResetLibrary();

}  // namespace kestrel::common
