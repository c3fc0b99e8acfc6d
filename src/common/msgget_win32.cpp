#include "common/msgget_win32.h"

#include "common/dialog_valid_win32.h"
#include "ui/button_win32.h"
#include "ui/get_win32.h"
#include "ui/static_controls_win32.h"

namespace kestrel::common {

namespace {

// The "MSGGET" dialog resource and its items.
constexpr const char* kPromptDialog = "MSGGET";
constexpr int kPrompt = 101;
constexpr int kField = 102;
constexpr int kConfirm = 201;
constexpr int kCancel = 202;

constexpr int kConfirmed = 1;
constexpr int kCancelled = 2;

}  // namespace

bool MSGGET(std::string_view title, std::string_view prompt, std::string& value) {
    std::string copy = value;

    ui::DialogOptions options;
    options.caption = std::string(title);
    options.resource_name = kPromptDialog;
    ui::TDialog dialog(options);
    dialog.lModify = false;
    dialog.lHelpIcon = false;
    dialog.Cargo.reset();

    ui::TSay prompt_line(ui::Placement::Item(&dialog, kPrompt), ui::FixedText(std::string(prompt)));
    ui::TGet field(ui::Placement::Item(&dialog, kField), ui::BindTo(copy));
    ui::TButton confirm(
        ui::Placement::Item(&dialog, kConfirm), "&Conferma",
        [&dialog] {
            dialog.Cargo = kConfirmed;
            dialog.End(kConfirmed);
        },
        true);
    ui::TButton cancel(ui::Placement::Item(&dialog, kCancel), "&Annulla", [&dialog] {
        dialog.Cargo = kCancelled;
        dialog.End(kCancelled);
    });

    ui::ActivateOptions run;
    run.centered = true;
    run.valid = [](ui::TDialog& d) { return __VALID(d, false); };
    run.init = [&field](ui::TDialog& d) {
        // The prompt opens with its value selected in the field, ready to be typed
        // over. Posted, so it comes after the dialog's own opening Tab, which would
        // leave the focus on "&Conferma", where typed letters pick the buttons by
        // their mnemonics ("c" confirms, "a" cancels).
        PostMessageA(d.hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field.hWnd), TRUE);
        return true;
    };
    dialog.Activate(run);

    const int result = dialog.nResult.value_or(0);
    if (result == 0 || result == kCancelled) {
        return false;
    }
    value = std::move(copy);
    return true;
}

}  // namespace kestrel::common
