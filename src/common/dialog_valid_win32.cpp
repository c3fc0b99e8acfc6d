#include "common/dialog_valid_win32.h"

#include <string_view>

#include "common/library_state.h"
#include "common/popmsg.h"
#include "ui/input_rules.h"

namespace kestrel::common {

namespace {

constexpr int kConfirmed = 1;
constexpr int kCancelled = 2;
constexpr COLORREF kInvalidPane = 255;  // red

// The validation-in-progress flag, set for the span of one VALID call.
class ValidationInProgress {
  public:
    ValidationInProgress() { Library().validating = true; }
    ValidationInProgress(const ValidationInProgress&) = delete;
    ValidationInProgress& operator=(const ValidationInProgress&) = delete;
    ~ValidationInProgress() { Library().validating = false; }
};

void Repaint(ui::TDialog& dialog) {
    if (dialog.hWnd != nullptr) {
        InvalidateRect(dialog.hWnd, nullptr, FALSE);
        UpdateWindow(dialog.hWnd);
    }
}

// Shows which control is wrong: focus, a red background while the message shows,
// then the old colour back and the focus again.
void Flag(ui::TDialog& dialog, ui::TControl& control, std::string_view message) {
    if (control.hWnd != nullptr) {
        SetFocus(control.hWnd);
    }
    const COLORREF pane = control.nClrPane;
    control.SetColor(control.nClrText, kInvalidPane);
    Repaint(dialog);
    POPMSG(message, kPopInformation);
    control.SetColor(control.nClrText, pane);
    Repaint(dialog);
    if (control.hWnd != nullptr) {
        SetFocus(control.hWnd);
    }
}

bool SkippedByClass(const ui::TControl& control) {
    constexpr std::string_view kNotValidated = "TMETER|TSAY";
    const std::string name = control.ClassName();
    return !name.empty() && kNotValidated.find(name) != std::string_view::npos;
}

}  // namespace

bool VALID(ui::TDialog& dialog, bool ask) {
    HWND focus = GetFocus();
    if (Library().validating) {
        return false;  // a second close request while the first is being decided
    }
    ValidationInProgress in_progress;

    if (!dialog.Cargo.has_value() || *dialog.Cargo == kCancelled) {
        if (!ask) {
            return true;
        }
        UPDATEMODIFY(dialog);
        if (!dialog.lModify) {
            return true;
        }
        const bool discard = std::get<bool>(POPMSG("Annullo le modifiche?", kPopYesNoDefaultNo));
        if (!discard && focus != nullptr) {
            SetFocus(focus);
        }
        return discard;
    }

    dialog.Cargo.reset();  // a later close is again an unconfirmed one
    if (ui::TWindow* editing = ui::LinkedWindow(focus)) {
        editing->LostFocus(nullptr);  // its last keystrokes reach the bound variable
    }
    if (!VALID2(dialog)) {
        return false;
    }
    for (ui::TControl* control : dialog.aControls) {
        auto* folder = dynamic_cast<ui::TFolderPages*>(control);
        if (folder == nullptr) {
            continue;
        }
        int page_number = 0;
        for (ui::TDialog* page : folder->aDialogs()) {
            folder->SetOption(++page_number);
            if (!VALID2(*page)) {
                return false;  // the page with the invalid field stays in front
            }
        }
    }
    return true;
}

bool VALID2(ui::TDialog& dialog) {
    for (ui::TControl* control : dialog.aControls) {
        if (SkippedByClass(*control)) {
            continue;
        }
        if (control->ClassName() == "TCOMBOBOX") {
            control->VarPut(control->GetText());
        }
        if (control->bWhen && !control->bWhen()) {
            continue;
        }
        if (control->Kind() == ui::TControl::ValueKind::kDate &&
            !ui::IsEmptyDateText(control->GetText()) && control->BadDate()) {
            Flag(dialog, *control, "Data non valida.");
            return false;
        }
        if (control->Kind() == ui::TControl::ValueKind::kNumber && control->BadNumber()) {
            Flag(dialog, *control, "Numero troppo grande.");
            return false;
        }
        if (control->Cargo && !control->Cargo(*control)) {
            Flag(dialog, *control, "Campo non valido.");
            return false;
        }
    }
    return true;
}

void UPDATEMODIFY(ui::TDialog& dialog) {
    for (ui::TControl* control : dialog.aControls) {
        if (auto* folder = dynamic_cast<ui::TFolderPages*>(control)) {
            for (const ui::TDialog* page : folder->aDialogs()) {
                if (page->lModify) {
                    dialog.lModify = true;
                }
            }
        }
    }
}

void RESETMODIFY(ui::TFolderPages& folder) {
    for (ui::TDialog* page : folder.aDialogs()) {
        page->lModify = false;
    }
}

}  // namespace kestrel::common
