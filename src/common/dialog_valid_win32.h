#pragma once

#include "ui/dialog_win32.h"
#include "ui/folder_win32.h"

namespace kestrel::common {

// The library's dialog validation, known to its users as __VALID and __VALID2 (names
// with two leading underscores are reserved in C++).

// The library's standard validation callback of a dialog: true lets it close.
// A confirmed close (Cargo 1, the dialog's OK action) validates every input
// control of the dialog and of its folder pages; any other close is allowed, or,
// with `ask` and a modified dialog, asks "Annullo le modifiche?".
bool VALID(ui::TDialog& dialog, bool ask);

// True when every control of the dialog or folder page is valid; the first invalid
// one is flagged (focused, shown on red, its message shown) and false returned.
bool VALID2(ui::TDialog& dialog);

// Raises the dialog's modified flag when a page of one of its folders is modified.
void UPDATEMODIFY(ui::TDialog& dialog);

// Lowers the modified flag of every page of the folder.
void RESETMODIFY(ui::TFolderPages& folder);

}  // namespace kestrel::common
