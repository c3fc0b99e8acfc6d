// The modal run of a framework dialog and the dialog procedure.
//
// A modal dialog is not in the window table: its object is pushed on the
// pending-dialog stack before DialogBoxIndirectParam runs, and the first message
// that reaches the dialog procedure for a new window binds that window to the
// object pushed last. Nested runs use deeper slots. Every handler runs behind a
// callback boundary; a failure ends the run, and is raised again once the
// platform's modal loop has returned.
#include "ui/dialog_run_win32.h"

#include <cstring>

#include "ui/dialog_win32.h"
#include "ui/framework_state_win32.h"

namespace kestrel::ui {

namespace {

// Global memory for the template, locked while the platform reads it. Four zeroed
// bytes follow the template: the dialog manager reads each item from a DWORD
// boundary, and past a last item that ends on a WORD boundary it would otherwise
// read beyond the block.
class TemplateMemory {
  public:
    explicit TemplateMemory(const std::vector<std::uint8_t>& bytes)
        : memory_(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes.size() + 4)) {
        if (memory_ != nullptr) {
            locked_ = GlobalLock(memory_);
            if (locked_ != nullptr) {
                std::memcpy(locked_, bytes.data(), bytes.size());
            }
        }
    }
    TemplateMemory(const TemplateMemory&) = delete;
    TemplateMemory& operator=(const TemplateMemory&) = delete;
    ~TemplateMemory() {
        if (locked_ != nullptr) {
            GlobalUnlock(memory_);
        }
        if (memory_ != nullptr) {
            GlobalFree(memory_);
        }
    }
    const DLGTEMPLATE* get() const { return static_cast<const DLGTEMPLATE*>(locked_); }

  private:
    HGLOBAL memory_;
    void* locked_ = nullptr;
};

// The object's slot on the pending-dialog stack for the span of one modal run.
class PendingSlot {
  public:
    explicit PendingSlot(TDialog& dialog) {
        FrameworkState& fw = Framework();
        if (fw.pending_cursor > 0) {
            --fw.pending_cursor;
            fw.pending[static_cast<std::size_t>(fw.pending_cursor)] = {nullptr, &dialog};
            pushed_ = true;
        }
    }
    PendingSlot(const PendingSlot&) = delete;
    PendingSlot& operator=(const PendingSlot&) = delete;
    ~PendingSlot() {
        if (pushed_) {
            FrameworkState& fw = Framework();
            fw.pending[static_cast<std::size_t>(fw.pending_cursor)] = {};
            ++fw.pending_cursor;
        }
    }

  private:
    bool pushed_ = false;
};

// The loop-running flag is set for the span of a modal run, then restored.
class LoopRunning {
  public:
    LoopRunning() : previous_(Framework().loop_running) { Framework().loop_running = true; }
    LoopRunning(const LoopRunning&) = delete;
    LoopRunning& operator=(const LoopRunning&) = delete;
    ~LoopRunning() { Framework().loop_running = previous_; }

  private:
    bool previous_;
};

TDialog* BoundDialog(HWND hwnd) {
    FrameworkState& fw = Framework();
    for (int slot = fw.pending_cursor; slot < FrameworkState::kPendingSlots; ++slot) {
        if (fw.pending[static_cast<std::size_t>(slot)].hWnd == hwnd) {
            return fw.pending[static_cast<std::size_t>(slot)].dialog;
        }
    }
    if (fw.pending_cursor < FrameworkState::kPendingSlots) {
        PendingDialog& top = fw.pending[static_cast<std::size_t>(fw.pending_cursor)];
        if (top.dialog != nullptr && top.hWnd == nullptr) {
            top.hWnd = hwnd;
            return top.dialog;
        }
    }
    return nullptr;
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    TDialog* dialog = BoundDialog(hwnd);
    if (dialog == nullptr) {
        return 0;
    }
    FrameworkState& fw = Framework();
    const LPARAM third = message == WM_INITDIALOG ? reinterpret_cast<LPARAM>(hwnd) : lparam;
    EventResult result = fw.failure.Guard(
        [&] { return dialog->HandleEvent(message, wparam, third); }, EventResult::None());
    if (fw.failure.pending()) {
        EndDialog(hwnd, IDCANCEL);  // the failure escapes past this run
        return 0;
    }
    if ((message == WM_QUERYENDSESSION || message == WM_SETCURSOR) && result.IsNumber()) {
        // The platform reads a dialog's real answer from the message-result word.
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result.number());
        return TRUE;
    }
    return result.ForDialog();
}

// The modeless dialogs' own procedure, until the object links the window: it hides
// the window on initialisation and ends it on IDOK or IDCANCEL; everything else is
// left to the platform.
INT_PTR CALLBACK MinimalDialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) {
        ShowWindow(hwnd, SW_HIDE);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
        EndDialog(hwnd, LOWORD(wparam));
        return TRUE;
    }
    return FALSE;
}

// One modal run of `dialog`: loop-running flag set, the object on the pending stack,
// the platform's run, then any failure kept by a handler raised again here.
template <typename Run>
INT_PTR RunModal(TDialog& dialog, Run&& run) {
    PendingSlot slot(dialog);
    INT_PTR result = run(&DialogProc);
    Framework().failure.Rethrow();
    return result;
}

HWND Hidden(HWND window) {
    if (window != nullptr) {
        ShowWindow(window, SW_HIDE);
    }
    return window;
}

}  // namespace

INT_PTR DIALOGBOXINDIRECT(HINSTANCE instance, const std::vector<std::uint8_t>& dialog_template,
                          HWND owner, TDialog& dialog) {
    LoopRunning loop;
    HCURSOR previous_cursor = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    TemplateMemory memory(dialog_template);
    SetCursor(previous_cursor);
    if (memory.get() == nullptr) {
        return -1;
    }
    return RunModal(dialog, [&](DLGPROC procedure) {
        return DialogBoxIndirectParamA(instance, memory.get(), owner, procedure, 0);
    });
}

INT_PTR DIALOGBOX(HINSTANCE instance, const std::string& resource, HWND owner, TDialog& dialog) {
    LoopRunning loop;
    return RunModal(dialog, [&](DLGPROC procedure) {
        return DialogBoxParamA(instance, resource.c_str(), owner, procedure, 0);
    });
}

HWND CREATEDLGINDIRECT(HINSTANCE instance, const std::vector<std::uint8_t>& dialog_template,
                       HWND owner) {
    TemplateMemory memory(dialog_template);
    if (memory.get() == nullptr) {
        return nullptr;
    }
    return Hidden(CreateDialogIndirectParamA(instance, memory.get(), owner, &MinimalDialogProc, 0));
}

HWND CREATEDLG(HINSTANCE instance, const std::string& resource, HWND owner) {
    return Hidden(CreateDialogParamA(instance, resource.c_str(), owner, &MinimalDialogProc, 0));
}

}  // namespace kestrel::ui
