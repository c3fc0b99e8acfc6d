// A small Windows program that the end-to-end tests drive with real keystrokes under
// Wine: it runs the library's value prompt, or a dialog with a folder of two pages
// that the library's validation guards, and writes what happened to a report file,
// one "name=value" line each, values in hex where they are bytes.
//
//   kestrel_dialogs_probe msgget REPORT [date|number]
//       calls MSGGET("Valore", "Nome del nastro:", value) with value "vecchio";
//       with "date", MSGGET("Valore", "Data:", value) with 1 January 1985; with
//       "number", MSGGET("Valore", "Importo:", value, 7, 2) with 42.5.
//       A dialog watcher reports what the dialog shows (caption, place, prompt,
//       field, the control with the focus, where its close box is), another the
//       text of every message box; then the answer and the value (a date as
//       yyyy-mm-dd, a number with two decimals).
//   kestrel_dialogs_probe folder REPORT date|cargo
//       runs a dialog "Cartella" with a folder "Uno"/"Due" and an OK button:
//       page 1 a text field that its own test finds valid when not empty, page 2 a
//       date field and an inactive number field holding a number too large for it.
//       "date": the text is "nastro" and the date "31/02/21" (no such day);
//       "cargo": the text is empty and the date "28/02/21".
//       A dialog watcher reports every message box (its texts, the page in front,
//       the screen box of the field being flagged); every press of OK reports
//       whether the close was accepted, the page in front, the close code, the
//       control with the focus and its colour; then the dialog's result.
// Every report ends with the line "done".
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/dialog_valid_win32.h"
#include "common/msgget_win32.h"
#include "e2e/probe_program.h"
#include "e2e/probe_report.h"
#include "support/dialog_watcher_win32.h"
#include "support/probe_windows_win32.h"
#include "ui/button_win32.h"
#include "ui/dialog_win32.h"
#include "ui/folder_win32.h"
#include "ui/get_win32.h"

namespace {

using Report = kestrel::testing::ProbeReport;
using kestrel::testing::ClassOf;
using kestrel::testing::DialogWatcher;
using kestrel::testing::TextOf;
namespace ui = kestrel::ui;

std::string Box(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

// The descendant of `parent` with the control identifier `id`, at any depth.
HWND FindDescendant(HWND parent, int id) {
    struct Search {
        int id;
        HWND found;
    } search{id, nullptr};
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            if (GetDlgCtrlID(child) == s->id) {
                s->found = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The window with the keyboard focus on the user-interface thread.
HWND FocusOf(DWORD thread) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

// The middle of the window's close box on the screen, found by asking the window
// what each point of its top right corner is; "none" when it has no close box.
std::string CloseBox(HWND window) {
    RECT outer{};
    GetWindowRect(window, &outer);
    long x_sum = 0;
    long y_sum = 0;
    long count = 0;
    for (int y = outer.top; y < outer.top + 40 && y < outer.bottom; ++y) {
        for (int x = std::max(outer.left, outer.right - 60); x < outer.right; ++x) {
            if (SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE) {
                x_sum += x;
                y_sum += y;
                ++count;
            }
        }
    }
    if (count == 0) {
        return "none";
    }
    return std::to_string(x_sum / count) + "," + std::to_string(y_sum / count);
}

// -- the value prompt ------------------------------------------------------------

int MsgGet(Report& report, const std::string& kind) {
    const DWORD ui_thread = GetCurrentThreadId();
    std::string value = "vecchio";
    kestrel::common::Date date{1985, 1, 1};
    double number = 42.5;
    bool answer = false;
    {
        DialogWatcher watcher(
            [&report, ui_thread](HWND dialog) {
                RECT outer{};
                RECT desktop{};
                GetWindowRect(dialog, &outer);
                GetWindowRect(GetDesktopWindow(), &desktop);
                report.Bytes("caption", TextOf(dialog));
                report.Line("class", ClassOf(dialog));
                report.Line("rect", Box(outer));
                report.Line("desktop", Box(desktop));
                report.Bytes("prompt", TextOf(GetDlgItem(dialog, 101)));
                report.Bytes("field", TextOf(GetDlgItem(dialog, 102)));
                report.Bytes("confirm", TextOf(GetDlgItem(dialog, 201)));
                report.Bytes("cancel", TextOf(GetDlgItem(dialog, 202)));
                report.Line("focus_id", std::to_string(GetDlgCtrlID(FocusOf(ui_thread))));
                report.Line("close_box", CloseBox(dialog));
                report.Line("dialog", "shown");
            },
            {"Valore"});
        int boxes = 0;
        DialogWatcher box_watcher(
            [&report, &boxes](HWND box) {
                for (const std::string& text : kestrel::testing::StaticTexts(box)) {
                    report.Bytes("box_text", text);
                }
                report.Line("box", std::to_string(++boxes));
            },
            {"Attenzione"});
        if (kind == "date") {
            answer = kestrel::common::MSGGET("Valore", "Data:", date);
        } else if (kind == "number") {
            answer = kestrel::common::MSGGET("Valore", "Importo:", number, 7, 2);
        } else {
            answer = kestrel::common::MSGGET("Valore", "Nome del nastro:", value);
        }
    }
    report.Line("answer", answer ? "true" : "false");
    if (kind == "date") {
        char text[16];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
        value = text;
    } else if (kind == "number") {
        char text[64];
        std::snprintf(text, sizeof text, "%.2f", number);
        value = text;
    }
    report.Bytes("value", value);
    return 0;
}

// -- the folder ------------------------------------------------------------------

// The fields of the folder dialog, and what each press of OK and each message box
// found.
class FolderProbe {
  public:
    static constexpr std::array<const char*, 3> kFieldNames = {"text", "date", "number"};

    FolderProbe(Report& report, bool refuse_text)
        : report_(report),
          text_(refuse_text ? "" : "nastro"),
          date_(refuse_text ? "28/02/21" : "31/02/21"),
          number_("1234567") {}

    int Run() {
        ui::DialogOptions options;
        options.caption = "Cartella";
        options.width = 440;
        options.height = 330;
        ui::TDialog dialog(options);  // at the desktop's top left corner
        dialog.lModify = false;
        dialog.Cargo.reset();
        dialog_ = &dialog;

        // Control boxes count double on the screen (the framework's item units).
        ui::TFolder folder(ui::Placement::Box(&dialog, 5, 5, 205, 115), {"Uno", "Due"});
        folder_ = &folder;
        ui::TDialog& first = *folder.aDialogs().at(0);
        ui::TDialog& second = *folder.aDialogs().at(1);

        ui::TGet text(ui::Placement::Box(&first, 15, 10, 110, 12), ui::BindTo(text_));
        text.Cargo = [](ui::TControl& control) { return !control.GetText().empty(); };
        ui::TGet date(ui::Placement::Box(&second, 15, 10, 60, 12), ui::BindTo(date_),
                      {.kind = ui::TControl::ValueKind::kDate});
        ui::TGet number(ui::Placement::Box(&second, 40, 10, 60, 12), ui::BindTo(number_),
                        {.kind = ui::TControl::ValueKind::kNumber, .width = 5});
        number.bWhen = [] { return false; };

        ui::TButton ok(
            ui::Placement::Box(&dialog, 130, 5, 45, 14), "OK",
            [this, &dialog] {
                dialog.Cargo = 1;
                const bool accepted = dialog.End(1);
                ReportClose(accepted);
            },
            true);

        report_.Line("text_id", std::to_string(text.nId));
        report_.Line("date_id", std::to_string(date.nId));
        controls_ = {&text, &date, &number};
        ids_ = {text.nId, date.nId, number.nId};

        ui::ActivateOptions run;
        run.valid = [](ui::TDialog& d) { return kestrel::common::VALID(d, false); };
        {
            const DWORD ui_thread = GetCurrentThreadId();
            DialogWatcher shown(
                [this, ui_thread](HWND window) {
                    report_.Line("focus_id", std::to_string(GetDlgCtrlID(FocusOf(ui_thread))));
                    HWND tab = FindWindowExA(window, nullptr, WC_TABCONTROLA, nullptr);
                    report_.Line("tab", std::to_string(SendMessageA(tab, TCM_GETCURSEL, 0, 0) + 1));
                    report_.Line("dialog", "shown");
                },
                {"Cartella"});
            DialogWatcher boxes([this](HWND box) { DescribeBox(box); }, {"Attenzione"});
            dialog.Activate(run);
        }
        report_.Line("result", dialog.nResult ? std::to_string(*dialog.nResult) : "none");
        report_.Bytes("text_value", text_);
        report_.Bytes("date_value", date_);
        report_.Bytes("number_value", number_);
        report_.Line("closes", std::to_string(closes_));
        return 0;
    }

  private:
    // While the box shows: what it says and what stands behind it.
    void DescribeBox(HWND box) {
        const int n = ++boxes_;
        const std::string prefix = "box" + std::to_string(n) + "_";
        for (const std::string& text : kestrel::testing::StaticTexts(box)) {
            report_.Bytes(prefix + "text", text);
        }
        HWND owner = GetWindow(box, GW_OWNER);
        report_.Bytes(prefix + "owner", TextOf(owner));
        HWND tab = FindWindowExA(owner, nullptr, WC_TABCONTROLA, nullptr);
        report_.Line(prefix + "tab", std::to_string(SendMessageA(tab, TCM_GETCURSEL, 0, 0) + 1));
        // Where each field is on the screen, and whether its page is in front.
        for (std::size_t i = 0; i < kFieldNames.size(); ++i) {
            HWND window = FindDescendant(owner, ids_[i]);
            RECT field{};
            GetWindowRect(window, &field);
            report_.Line(prefix + kFieldNames[i] + "_rect", Box(field));
            report_.Line(prefix + kFieldNames[i] + "_visible", IsWindowVisible(window) ? "1" : "0");
        }
        report_.Line("box", std::to_string(n));
    }

    // On the user-interface thread, right after a press of OK was decided.
    void ReportClose(bool accepted) {
        const int n = ++closes_;
        const std::string prefix = "close" + std::to_string(n) + "_";
        report_.Line(prefix + "accepted", accepted ? "1" : "0");
        report_.Line(prefix + "option", std::to_string(folder_->nOption()));
        report_.Line(prefix + "cargo",
                     dialog_->Cargo ? std::to_string(*dialog_->Cargo) : std::string("none"));
        HWND focus = GetFocus();
        report_.Line(prefix + "focus_id", std::to_string(GetDlgCtrlID(focus)));
        for (const ui::TControl* control : controls_) {
            if (control->hWnd == focus) {
                report_.Line(prefix + "focus_pane", std::to_string(control->nClrPane));
            }
        }
        report_.Line(prefix + "window_pane", std::to_string(GetSysColor(COLOR_WINDOW)));
        report_.Line(prefix + "dialog_visible",
                     dialog_->hWnd != nullptr && IsWindowVisible(dialog_->hWnd) ? "1" : "0");
        report_.Line("close", std::to_string(n));
    }

    Report& report_;
    std::string text_;
    std::string date_;
    std::string number_;
    ui::TDialog* dialog_ = nullptr;
    ui::TFolder* folder_ = nullptr;
    std::vector<const ui::TControl*> controls_;
    std::array<int, 3> ids_{};  // text, date, number
    int boxes_ = 0;
    int closes_ = 0;
};

}  // namespace

kestrel::testing::ProbeProgram kestrel::testing::TheProbeProgram() {
    using Arguments = std::vector<std::string>;
    return {"usage: kestrel_dialogs_probe msgget|folder REPORT ...",
            {{"msgget", 0,
              [](Report& report, const Arguments& words) {
                  return MsgGet(report, words.empty() ? "" : words[0]);
              }},
             {"folder", 1, [](Report& report, const Arguments& words) {
                  FolderProbe probe(report, words[0] == "cargo");
                  return probe.Run();
              }}}};
}
