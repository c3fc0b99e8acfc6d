#pragma once

namespace kestrel::common {

// Makes the tables a module of the library: their state gets its initial values (no
// table open), INIT fixes their settings first of all, and CLOSEALL closes every
// work area. The program's start-up calls it once the library's state has its
// initial values (after ResetLibrary), before the start-up procedures run.
void RegisterTables();

}  // namespace kestrel::common
