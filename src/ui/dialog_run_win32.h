#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
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

// Runs `dialog` modally from the dialog resource `resource` of `instance`, as
// DIALOGBOXINDIRECT does from a template.
INT_PTR DIALOGBOX(HINSTANCE instance, const std::string& resource, HWND owner, TDialog& dialog);

// Creates a modeless dialog window from an in-memory template (CREATEDLGINDIRECT) or
// from a dialog resource (CREATEDLG), with the framework's minimal dialog procedure,
// and hides it. The caller binds the object afterwards (it links the window into the
// window table). Null when the platform could not create it.
HWND CREATEDLGINDIRECT(HINSTANCE instance, const std::vector<std::uint8_t>& dialog_template,
                       HWND owner);
HWND CREATEDLG(HINSTANCE instance, const std::string& resource, HWND owner);

}  // namespace kestrel::ui
