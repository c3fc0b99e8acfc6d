#include "common/msgget_win32.h"

#include <cstdio>
#include <cstdlib>

#include "common/calendar_date.h"
#include "common/dialog_valid_win32.h"
#include "ui/button_win32.h"
#include "ui/get_win32.h"
#include "ui/input_rules.h"
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

// The dialog itself, over the field's text: true when the user confirmed, and then
// `text` holds what the field held, which the field's checks on confirmation found
// valid.
bool PromptForText(std::string_view title, std::string_view prompt, std::string& text,
                   const ui::GetFormat& format) {
    std::string copy = text;

    ui::DialogOptions options;
    options.caption = std::string(title);
    options.resource_name = kPromptDialog;
    ui::TDialog dialog(options);
    dialog.lModify = false;
    dialog.lHelpIcon = false;
    dialog.Cargo.reset();

    ui::TSay prompt_line(ui::Placement::Item(&dialog, kPrompt), ui::FixedText(std::string(prompt)));
    ui::TGet field(ui::Placement::Item(&dialog, kField), ui::BindTo(copy), format);
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
    run.valid = [](ui::TDialog& d) { return VALID(d, false); };
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
    text = std::move(copy);
    return true;
}

// A date as the field shows it: dd/mm/yy, or the empty date's mask (also for a
// value that is no calendar date).
std::string DateFieldText(const Date& value) {
    const Date date = CheckedDate(value);
    if (IsEmptyDate(date)) {
        return std::string(ui::kEmptyDateText);
    }
    char text[16];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d", date.day, date.month, date.year % 100);
    return text;
}

// The date of a field's text that the field's check found valid: the two-digit year
// in the hundred years from 1980, as the field reads it.
Date FieldTextDate(const std::string& text) {
    if (ui::IsEmptyDateText(text)) {
        return {};
    }
    return CTOD(text, "dd/mm/yy", 1980);
}

std::string NumberFieldText(double number, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, number);
    return text;
}

}  // namespace

bool MSGGET(std::string_view title, std::string_view prompt, std::string& value) {
    return PromptForText(title, prompt, value, {});
}

bool MSGGET(std::string_view title, std::string_view prompt, Date& value) {
    const std::string shown = DateFieldText(value);
    std::string text = shown;
    ui::GetFormat format;
    format.kind = ui::TControl::ValueKind::kDate;
    if (!PromptForText(title, prompt, text, format)) {
        return false;
    }
    if (text != shown) {
        value = FieldTextDate(text);
    }
    return true;
}

bool MSGGET(std::string_view title, std::string_view prompt, double& value, int width,
            int decimals) {
    const std::string shown = NumberFieldText(value, decimals);
    std::string text = shown;
    ui::GetFormat format;
    format.kind = ui::TControl::ValueKind::kNumber;
    format.width = width;
    format.decimals = decimals;
    if (!PromptForText(title, prompt, text, format)) {
        return false;
    }
    if (text != shown) {
        value = std::strtod(text.c_str(), nullptr);  // a blank field reads as zero
    }
    return true;
}

}  // namespace kestrel::common
