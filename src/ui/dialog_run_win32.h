#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace kestrel::ui {

class TDialog;

// Runs `dialog` modally from its in-memory template: the template goes into
// locked, movable, zero-filled global memory, the dialog object waits on the
// pending-dialog stack until the new window's first message binds it, and the
// platform's modal loop runs until the dialog ends. Returns the platform's result
// (-1 when the dialog could not be created).
INT_PTR DIALOGBOXINDIRECT(HINSTANCE instance, const std::vector<std::uint8_t>& dialog_template,
                          HWND owner, TDialog& dialog);

}  // namespace kestrel::ui
