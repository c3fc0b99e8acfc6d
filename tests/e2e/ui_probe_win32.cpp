// A small Windows program that the end-to-end tests drive with real keystrokes under
// Wine: it opens the file dialog or a message box and writes what happened to a
// report file, one "name=value" line each, values in hex where they are bytes.
//
//   kestrel_ui_probe getfile REPORT START_DIR [FOLDER]
//       makes START_DIR current, runs the program's file choice starting in FOLDER
//       (or, without it, in the folder rebuilt from CURDRIVE and CURDIR) and reports
//       the chosen path, the filter index and the current directory afterwards.
//   kestrel_ui_probe popmsg REPORT KIND TEXT
//       shows a window of its own, makes it active, calls POPMSG(TEXT, KIND) and
//       reports the answer and what a dialog watcher read from the box meanwhile:
//       its caption, its texts, and whether the probe's window owned it.
//   kestrel_ui_probe events REPORT
//       runs the dialog "Eventi" (help topic 77) with two editable text fields and
//       a button "&Prova", and reports what reaches the creator's callbacks: the
//       key-down, key-up, change and validity callbacks of the second field, the
//       one that has the focus when the dialog shows (it refuses the text "no"),
//       the dialog's left and right clicks (row,column), the button's action, and
//       the key table's F1 (help), F2 and F3 (which asks for context help: the
//       dialog's WM_SYSCOMMAND SC_CONTEXTHELP) handlers with the window each ran
//       for. Also a point of the dialog that no control covers, on the desktop
//       ("free_point=x,y") and in the client area ("free_client=row,column"); at
//       the end the fields' texts and the dialog's result.
//       Below them, a check box and a read-only log showing one line, with a second
//       appended and not shown yet: "entry_point" and "log_point" are the desktop
//       points of the entry field and the log, "entry_client" the first in the
//       field's client area. The entry field reports a released left button
//       ("lbuttonup=row,column"); F2 also reports whether a window holds the mouse
//       ("capture"); the log reports each text written back to its bound text
//       ("log_put") and at the end the bound text ("log_value"). F5 asks the
//       platform's help for the first field (help topic 79) as a context-help click
//       does; F6 shows the focus cues to the push button and to the check box, as the
//       platform does when the dialog's cues change, and reports after each whether
//       the dialog awaits a repaint ("button_repaints_owner", "check_repaints_owner");
//       F7 replaces the log's window text, as another program could.
// Every report ends with the line "done".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/popmsg.h"
#include "e2e/probe_program.h"
#include "e2e/probe_report.h"
#include "support/dialog_watcher_win32.h"
#include "support/probe_windows_win32.h"
#include "ui/button_win32.h"
#include "ui/current_dir.h"
#include "ui/dialog_win32.h"
#include "ui/file_dialog.h"
#include "ui/key_table.h"
#include "ui/multiget_win32.h"

namespace {

using kestrel::common::PopAnswer;

using Report = kestrel::testing::ProbeReport;
using kestrel::testing::ProbeWindow;

std::string CurrentDirectory() {
    char buffer[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, buffer);
    return buffer;
}

// Reports what the first dialog box of the probe's thread (a message box or the file
// dialog) shows and who owns it, while it shows.
class BoxWatcher {
  public:
    BoxWatcher(Report& report, HWND expected_owner)
        : watcher_([this, &report, expected_owner](HWND box) {
              if (described_) {
                  return;
              }
              described_ = true;
              report.Bytes("box_title", kestrel::testing::TextOf(box));
              for (const std::string& text : kestrel::testing::StaticTexts(box)) {
                  report.Bytes("box_text", text);
              }
              report.Line("box_owned_by_active_window",
                          GetWindow(box, GW_OWNER) == expected_owner ? "1" : "0");
              report.Line("box", "shown");
          }) {}

  private:
    bool described_ = false;
    kestrel::testing::DialogWatcher watcher_;
};

std::string Describe(const PopAnswer& answer) {
    if (const bool* logical = std::get_if<bool>(&answer)) {
        return *logical ? "true" : "false";
    }
    if (const int* code = std::get_if<int>(&answer)) {
        return "code " + std::to_string(*code);
    }
    return "none";
}

int GetFile(Report& report, const char* start_dir, const char* folder) {
    if (!SetCurrentDirectoryA(start_dir)) {
        report.Line("error", "cannot enter the start folder");
        return 1;
    }
    std::string initial = folder != nullptr ? std::string(folder)
                                            : kestrel::ui::InitialDirectory(kestrel::ui::CURDRIVE(),
                                                                            kestrel::ui::CURDIR());
    report.Bytes("cwd_before", CurrentDirectory());
    report.Bytes("initial_dir", initial);
    ProbeWindow window;
    report.Line("active_is_probe", window.active() ? "1" : "0");
    report.Line("dialog", "opening");
    std::string chosen;
    {
        BoxWatcher watcher(report, window.get());
        chosen = kestrel::ui::CGETFILE({.filter = "File TAP (*.tap)|*.tap",
                                        .title = "Seleziona file da inviare",
                                        .initial_directory = initial});
    }
    report.Bytes("result", chosen);
    report.Line("filter_index", std::to_string(kestrel::ui::CGetFileLastFilterIndex()));
    report.Bytes("cwd_after", CurrentDirectory());
    return 0;
}

int PopMsg(Report& report, int kind, const char* text) {
    ProbeWindow window;
    report.Line("active_is_probe", window.active() ? "1" : "0");
    PopAnswer answer;
    {
        BoxWatcher watcher(report, window.get());
        answer = kestrel::common::POPMSG(text, kind);
    }
    report.Line("answer", Describe(answer));
    return 0;
}

std::string Pair(int a, int b) {
    return std::to_string(a) + "," + std::to_string(b);
}

// The dialog of the "events" command and what it reports.
class EventsDialog {
  public:
    explicit EventsDialog(Report& report) : report_(report) {
        dialog_.lModify = false;  // lHelpIcon stays empty: the context-help button shows
        entry_.bKeyDown = [this](int key, LPARAM) { report_.Line("keydown", std::to_string(key)); };
        entry_.bKeyUp = [this](int key, LPARAM) { report_.Line("keyup", std::to_string(key)); };
        kestrel::ui::SETKEY(VK_F1, [this](int, kestrel::ui::TWindow& window) {
            const auto& topic = window.nHelpId;
            report_.Line("help", window.ClassName() + "," +
                                     (topic ? std::to_string(*topic) : std::string("none")));
        });
        kestrel::ui::SETKEY(VK_F2, [this](int, kestrel::ui::TWindow& window) {
            report_.Line("capture", GetCapture() != nullptr ? "1" : "0");
            report_.Line("key_table", window.ClassName());
        });
        kestrel::ui::SETKEY(VK_F5, [this](int, kestrel::ui::TWindow&) {
            HELPINFO help{};
            help.cbSize = sizeof help;
            help.iContextType = HELPINFO_WINDOW;
            help.iCtrlId = other_.nId;
            help.hItemHandle = other_.hWnd;
            SendMessageA(other_.hWnd, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
        });
        kestrel::ui::SETKEY(VK_F6, [this](int, kestrel::ui::TWindow&) { SwitchFocusCues(); });
        kestrel::ui::SETKEY(VK_F7, [this](int, kestrel::ui::TWindow&) {
            SetWindowTextA(log_.hWnd, "scritto da fuori\r\n");
        });
        entry_.bLButtonUp = [this](int row, int column, WPARAM) {
            report_.Line("lbuttonup", Pair(row, column));
        };
        other_.nHelpId = 79;
        check_.nStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX;
        kestrel::ui::SETKEY(VK_F3, [this](int, kestrel::ui::TWindow&) {
            constexpr WPARAM kContextHelp = 61824;
            dialog_.SendMsg(WM_SYSCOMMAND, kContextHelp);
            report_.Line("context_help", dialog_.lHelpIcon.value_or(false) ? "on" : "off");
        });
    }

    EventsDialog(const EventsDialog&) = delete;
    EventsDialog& operator=(const EventsDialog&) = delete;
    ~EventsDialog() {
        for (int key : {VK_F1, VK_F2, VK_F3, VK_F5, VK_F6, VK_F7}) {
            kestrel::ui::SETKEY(key, nullptr);
        }
    }

    int Run() {
        kestrel::ui::ActivateOptions run;
        run.centered = true;
        run.lclicked = [this](int row, int column, WPARAM) {
            report_.Line("lclicked", Pair(row, column));
        };
        run.rclicked = [this](int row, int column, WPARAM) {
            report_.Line("rclicked", Pair(row, column));
        };
        run.init = [this](kestrel::ui::TDialog&) {
            ReportFreePoint();
            ReportPoint("entry", entry_);
            ReportPoint("log", log_);
            log_.Append("riga 2\r\n", false);  // bound, not shown yet
            return true;
        };
        run.valid = [this](kestrel::ui::TDialog&) {
            report_.Bytes("other_text", other_.GetText());
            report_.Bytes("entry_text", entry_.GetText());
            return true;
        };
        dialog_.bStart = [this] { report_.Line("dialog", "shown"); };
        dialog_.Activate(run);
        report_.Line("result", dialog_.nResult ? std::to_string(*dialog_.nResult) : "none");
        report_.Bytes("log_value", log_value_);
        return 0;
    }

  private:
    static kestrel::ui::DialogOptions Options() {
        kestrel::ui::DialogOptions options;
        options.caption = "Eventi";
        options.width = 400;
        options.height = 300;
        options.help_id = 77;
        return options;
    }

    // Boxes count double on the screen (the framework's item units).
    kestrel::ui::MultiGetOptions Field(int top, std::string& text) {
        kestrel::ui::MultiGetOptions options;
        options.top = top;
        options.left = 10;
        options.width = 150;
        options.height = 15;
        options.owner = &dialog_;
        options.binding = kestrel::ui::BindTo(text);
        return options;
    }

    kestrel::ui::MultiGetOptions EntryField() {
        kestrel::ui::MultiGetOptions options = Field(50, entry_value_);
        options.valid = [this](kestrel::ui::TControl& field) {
            const std::string text = field.GetText();
            report_.Bytes("valid", text);
            report_.Line("valid_answer", text == "no" ? "0" : "1");
            return text != "no";
        };
        options.change = [this](int key, LPARAM, kestrel::ui::TControl&) {
            report_.Line("change", std::to_string(key));
        };
        return options;
    }

    kestrel::ui::MultiGetOptions LogField() {
        kestrel::ui::MultiGetOptions options = Field(110, log_value_);
        options.height = 20;
        options.read_only = true;
        options.binding.set = [this](std::string text) {
            report_.Bytes("log_put", text);
            log_value_ = std::move(text);
        };
        return options;
    }

    // A point inside the control, on the desktop and in the control's client area.
    void ReportPoint(const std::string& name, const kestrel::ui::TControl& control) {
        POINT point{8, 6};
        report_.Line(name + "_client", Pair(point.y, point.x));
        ClientToScreen(control.hWnd, &point);
        report_.Line(name + "_point", Pair(point.x, point.y));
    }

    // What the platform sends each control when the dialog's focus cues change.
    void SwitchFocusCues() {
        for (const kestrel::ui::TButton* control : {&button_, &check_}) {
            ValidateRect(dialog_.hWnd, nullptr);
            SendMessageA(control->hWnd, WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
            const bool repaint = GetUpdateRect(dialog_.hWnd, nullptr, FALSE) != FALSE;
            report_.Line(control == &check_ ? "check_repaints_owner" : "button_repaints_owner",
                         repaint ? "1" : "0");
        }
    }

    void ReportFreePoint() {
        RECT client{};
        GetClientRect(dialog_.hWnd, &client);
        POINT point{client.right - 30, client.bottom - 30};
        const HWND under = ChildWindowFromPointEx(dialog_.hWnd, point, CWP_SKIPINVISIBLE);
        report_.Line("free_client", Pair(point.y, point.x));
        report_.Line("free_is_dialog", under == dialog_.hWnd ? "1" : "0");
        ClientToScreen(dialog_.hWnd, &point);
        report_.Line("free_point", Pair(point.x, point.y));
    }

    Report& report_;
    std::string other_value_;
    std::string entry_value_;
    std::string log_value_ = "riga 1\r\n";
    kestrel::ui::TDialog dialog_{Options()};
    // The dialog's own Tab at initialisation moves the focus from the first tab stop
    // to the second: the entry field.
    kestrel::ui::TMultiGet other_{Field(10, other_value_)};
    kestrel::ui::TMultiGet entry_{EntryField()};
    kestrel::ui::TButton button_{kestrel::ui::Placement::Box(&dialog_, 90, 10, 50, 14), "&Prova",
                                 [this] { report_.Line("button", "pressed"); }};
    kestrel::ui::TButton check_{kestrel::ui::Placement::Box(&dialog_, 90, 100, 60, 14), "Opzione",
                                nullptr};
    kestrel::ui::TMultiGet log_{LogField()};
};

}  // namespace

kestrel::testing::ProbeProgram kestrel::testing::TheProbeProgram() {
    using Arguments = std::vector<std::string>;
    return {
        "usage: kestrel_ui_probe getfile|popmsg|events REPORT ...",
        {{"getfile", 1,
          [](Report& report, const Arguments& words) {
              return GetFile(report, words[0].c_str(),
                             words.size() > 1 ? words[1].c_str() : nullptr);
          }},
         {"events", 0, [](Report& report, const Arguments&) { return EventsDialog(report).Run(); }},
         {"popmsg", 2, [](Report& report, const Arguments& words) {
              return PopMsg(report, std::atoi(words[0].c_str()), words[1].c_str());
          }}}};
}
