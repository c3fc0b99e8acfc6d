#pragma once

// What the shared-table routines' two files share (shared_tables.cpp, the waiting
// routines and the semaphore; shared_tables_files.cpp, creating, numbering, packing
// and the drive checks): the semaphore table's name and the guards that undo a
// routine's changes of selection, screen and locks on every way out.

#include <functional>
#include <string_view>
#include <utility>

#include "common/tables/table_layer.h"

namespace kestrel::common {

// The semaphore table, given to the table layer as "NET." (the file NET).
inline constexpr std::string_view kSemaphoreTable = "NET.";

// Keeps the caller's work area selected on every way out.
class AreaKeeper {
  public:
    AreaKeeper() : area_(Areas().Current()) {}
    AreaKeeper(const AreaKeeper&) = delete;
    AreaKeeper& operator=(const AreaKeeper&) = delete;
    ~AreaKeeper() { Areas().Select(area_); }

  private:
    int area_;
};

// Runs `undo` however the scope is left (the waiting screen's close, the window's
// enabling, the semaphore's release). A failure of `undo` itself is dropped: it
// runs while another failure may be leaving, and nothing more can be done then.
class OnScopeExit {
  public:
    explicit OnScopeExit(std::function<void()> undo) : undo_(std::move(undo)) {}
    OnScopeExit(const OnScopeExit&) = delete;
    OnScopeExit& operator=(const OnScopeExit&) = delete;
    ~OnScopeExit() {
        try {
            undo_();
        } catch (...) {
        }
    }

  private:
    std::function<void()> undo_;
};

// The current area's table; a routine that needs one in an unused area fails as
// the runtime does for any table operation there.
DbfTable& CurrentTable(std::string_view operation);

// Runs `work` on the table and releases the table's locks if it fails, so that a
// failure never leaves other workstations waiting on this one.
template <typename Work>
auto ReleasingLocksOnFailure(DbfTable& table, Work&& work) {
    try {
        return work();
    } catch (...) {
        table.UnlockAll();
        throw;
    }
}

}  // namespace kestrel::common
