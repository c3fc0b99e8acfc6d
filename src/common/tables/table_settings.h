#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/calendar_date.h"

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

// All module-wide state of the tables, in one place: their settings and their work
// areas with the tables open in them (table_layer.h). Used on the window thread only.
struct TablesState {
    TableSettings settings;
    std::unique_ptr<WorkAreas, WorkAreasDeleter> work_areas;
};

TablesState& Tables();

// The state's initial values, as at the start of the process: no table open.
void ResetTables();

// The settings INIT fixes, in INIT's order; the date format keeps the century when
// it is shown already.
void FixTableSettings(TableSettings& settings);

// CTOD in the tables' date format and epoch ("dd/mm/yy" and 1980 after INIT).
Date CTOD(std::string_view text, const TableSettings& settings = Tables().settings);

}  // namespace kestrel::common
