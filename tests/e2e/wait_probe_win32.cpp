// A small Windows program that the end-to-end tests of the please-wait window drive
// under Wine: it opens, updates and closes the box through POPMSG and writes what the
// screen shows into a report file, one "name=value" line each (texts in hex).
//
//   kestrel_wait_probe progress REPORT
//       a text box with a progress bar; waits for the test's Esc and Alt+F4, moves
//       the bar, then closes the box with an information box the test answers.
//   kestrel_wait_probe blank REPORT
//       a box for an empty text; a second open request; POPMSG() closes it.
//   kestrel_wait_probe printing REPORT
//       the printing variant, two pages counted; waits for the test's Esc and
//       Alt+F4; POPMSG() closes it.
//
// The probe shows a window of its own, active, before it opens the box. Where the
// test has to act, the probe reports "NAME=waiting" and pumps its messages until the
// test creates the file NAME in the report's folder (or gives up after a while). At
// every report of CURMSG, "none" means no text, "text:HEX" the text. Every report
// ends with the line "done".
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "e2e/probe_program.h"
#include "e2e/probe_report.h"
#include "support/dialog_watcher_win32.h"
#include "support/probe_windows_win32.h"
#include "common/popmsg.h"
#include "common/wait_window.h"
#include "ui/message_pump.h"

namespace {

using kestrel::common::CURMSG;
using kestrel::common::POPMSG;
using kestrel::common::WaitRequest;
using kestrel::ui::SYSREFRESH;

using Report = kestrel::testing::ProbeReport;
using kestrel::testing::ClassOf;
using kestrel::testing::ProbeWindow;
using kestrel::testing::TextOf;
using kestrel::testing::VisibleDialogs;

constexpr DWORD kHandshakeLimitMs = 60000;

std::string Flag(bool value) {
    return value ? "1" : "0";
}

// The test's signals: files it creates in the report's folder.
class Handshake {
  public:
    Handshake(Report& report, const std::string& report_path) : report_(report) {
        const std::size_t slash = report_path.find_last_of("\\/");
        folder_ = slash == std::string::npos ? "." : report_path.substr(0, slash);
    }

    // Reports NAME=waiting and pumps until the file NAME appears (woken by the
    // folder's change notification or a message); false (and "timeout=NAME") when it
    // does not in time. Then handles every message waiting: the test signals only
    // once what it did has reached the probe's queue.
    bool Await(const std::string& name) {
        report_.Line(name, "waiting");
        const std::string path = folder_ + "\\" + name;
        HANDLE change =
            FindFirstChangeNotificationA(folder_.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
        const DWORD handles = change != INVALID_HANDLE_VALUE ? 1 : 0;
        const DWORD start = GetTickCount();
        while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            const DWORD waited = GetTickCount() - start;
            if (waited > kHandshakeLimitMs) {
                report_.Line("timeout", name);
                break;
            }
            SYSREFRESH();
            if (MsgWaitForMultipleObjectsEx(handles, &change, kHandshakeLimitMs - waited,
                                            QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0 &&
                handles == 1) {
                FindNextChangeNotification(change);
            }
        }
        if (handles == 1) {
            FindCloseChangeNotification(change);
        }
        do {
            SYSREFRESH();
        } while (HIWORD(GetQueueStatus(QS_ALLINPUT)) != 0);
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

  private:
    Report& report_;
    std::string folder_;
};

// The first child of `parent` of a window class (and, for "Static", not an icon or
// a picture); null when there is none.
HWND ChildOfClass(HWND parent, const std::string& class_name) {
    struct Search {
        std::string class_name;
        HWND found = nullptr;
    } search{class_name};
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM data) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(data);
            const LONG_PTR type = GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK;
            if (_stricmp(ClassOf(child).c_str(), s.class_name.c_str()) != 0 ||
                (s.class_name == "Static" && (type == SS_ICON || type == SS_BITMAP))) {
                return TRUE;
            }
            s.found = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void ReportCurmsg(Report& report, const std::string& name) {
    const std::optional<std::string> text = CURMSG();
    report.Line(name, text ? "text:" + kestrel::testing::Hex(*text) : "none");
}

void ReportRect(Report& report, const std::string& name, const RECT& rect) {
    report.Line(name, std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
                          std::to_string(rect.right - rect.left) + "," +
                          std::to_string(rect.bottom - rect.top));
}

// Where a control stands in its window's client area.
void ReportChildRect(Report& report, const std::string& name, HWND window, HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    ReportRect(report, name, rect);
}

// What any wait box shows: its caption, whether it is visible, where it stands on
// the screen, and whether the window behind it is disabled.
void ReportBox(Report& report, HWND box, const ProbeWindow& window) {
    report.Line("box_found", Flag(box != nullptr));
    if (box == nullptr) {
        return;
    }
    report.Bytes("box_caption", TextOf(box));
    report.Line("box_visible", Flag(IsWindowVisible(box) != FALSE));
    RECT outer{};
    GetWindowRect(box, &outer);
    ReportRect(report, "box_rect", outer);
    report.Line("screen", std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "," +
                              std::to_string(GetSystemMetrics(SM_CYSCREEN)));
    report.Line("probe_enabled_while_shown", Flag(window.enabled()));
    report.Line("dialogs_shown", std::to_string(VisibleDialogs(GetCurrentThreadId()).count));
}

// The pixel width of a line in the screen's current font.
int ScreenTextWidth(const std::string& line) {
    HDC screen = GetDC(nullptr);
    SIZE size{};
    GetTextExtentPoint32A(screen, line.c_str(), static_cast<int>(line.size()), &size);
    ReleaseDC(nullptr, screen);
    return static_cast<int>(size.cx);
}

// Counts, on the probe's thread, the keys and close requests that reach one window:
// Esc and Alt+F4 pressed on it, and the WM_CLOSE they turn into.
class CloseRequestCounter {
  public:
    explicit CloseRequestCounter(HWND box) {
        box_ = box;
        escapes_ = f4s_ = closes_ = 0;
        retrieved_ = SetWindowsHookExA(WH_GETMESSAGE, Retrieved, nullptr, GetCurrentThreadId());
        sent_ = SetWindowsHookExA(WH_CALLWNDPROC, Sent, nullptr, GetCurrentThreadId());
    }
    CloseRequestCounter(const CloseRequestCounter&) = delete;
    CloseRequestCounter& operator=(const CloseRequestCounter&) = delete;
    ~CloseRequestCounter() {
        if (retrieved_ != nullptr) {
            UnhookWindowsHookEx(retrieved_);
        }
        if (sent_ != nullptr) {
            UnhookWindowsHookEx(sent_);
        }
        box_ = nullptr;
    }
    bool hooked() const { return retrieved_ != nullptr && sent_ != nullptr; }
    static int escapes() { return escapes_; }
    static int f4s() { return f4s_; }
    static int closes() { return closes_; }

  private:
    static bool ForBox(HWND target) {
        return box_ != nullptr && (target == box_ || IsChild(box_, target));
    }
    static LRESULT CALLBACK Retrieved(int code, WPARAM removal, LPARAM data) {
        const auto& msg = *reinterpret_cast<const MSG*>(data);
        if (code == HC_ACTION && removal == PM_REMOVE && ForBox(msg.hwnd)) {
            if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
                ++escapes_;
            } else if (msg.message == WM_SYSKEYDOWN && msg.wParam == VK_F4) {
                ++f4s_;
            } else if (msg.message == WM_CLOSE) {
                ++closes_;
            }
        }
        return CallNextHookEx(nullptr, code, removal, data);
    }
    static LRESULT CALLBACK Sent(int code, WPARAM flag, LPARAM data) {
        const auto& call = *reinterpret_cast<const CWPSTRUCT*>(data);
        if (code == HC_ACTION && call.message == WM_CLOSE && ForBox(call.hwnd)) {
            ++closes_;
        }
        return CallNextHookEx(nullptr, code, flag, data);
    }

    // One counter at a time: the hooks have no way to reach an instance.
    static inline HWND box_ = nullptr;
    static inline int escapes_ = 0;
    static inline int f4s_ = 0;
    static inline int closes_ = 0;
    HHOOK retrieved_ = nullptr;
    HHOOK sent_ = nullptr;
};

// Records, on the probe's thread, in what order the probe's window is enabled and
// disabled, the wait box is destroyed and new dialog windows are created. (Whether
// the window is enabled cannot be read once a message box shows: the box disables
// its owner for as long as it runs.)
class Timeline {
  public:
    Timeline(HWND probe_window, HWND wait_box) {
        probe_ = probe_window;
        box_ = wait_box;
        events_.clear();
        hook_ = SetWindowsHookExA(WH_CALLWNDPROC, Sent, nullptr, GetCurrentThreadId());
    }
    Timeline(const Timeline&) = delete;
    Timeline& operator=(const Timeline&) = delete;
    ~Timeline() {
        if (hook_ != nullptr) {
            UnhookWindowsHookEx(hook_);
        }
        probe_ = box_ = nullptr;
    }
    bool hooked() const { return hook_ != nullptr; }
    // The events so far, separated by commas.
    static std::string Events() {
        std::string joined;
        for (const std::string& event : events_) {
            joined += (joined.empty() ? "" : ",") + event;
        }
        return joined;
    }

  private:
    static LRESULT CALLBACK Sent(int code, WPARAM flag, LPARAM data) {
        const auto& call = *reinterpret_cast<const CWPSTRUCT*>(data);
        if (code == HC_ACTION) {
            if (call.message == WM_ENABLE && call.hwnd == probe_) {
                events_.push_back(call.wParam != 0 ? "enabled" : "disabled");
            } else if (call.message == WM_DESTROY && call.hwnd == box_) {
                events_.push_back("wait_box_destroyed");
            } else if (call.message == WM_CREATE && ClassOf(call.hwnd) == "#32770") {
                events_.push_back("dialog_created");
            }
        }
        return CallNextHookEx(nullptr, code, flag, data);
    }

    // One timeline at a time: the hook has no way to reach an instance.
    static inline HWND probe_ = nullptr;
    static inline HWND box_ = nullptr;
    static inline std::vector<std::string> events_;
    HHOOK hook_ = nullptr;
};

// Reports, while the information box "Attenzione" shows, whether the wait box
// still exists, who owns the box and what it says.
kestrel::testing::DialogWatcher MessageBoxWatcher(Report& report, HWND wait_box,
                                                  HWND probe_window) {
    return kestrel::testing::DialogWatcher(
        [&report, wait_box, probe_window](HWND box) {
            report.Line("msgbox_wait_box_exists", Flag(IsWindow(wait_box) != FALSE));
            report.Line("msgbox_owned_by_probe", Flag(GetWindow(box, GW_OWNER) == probe_window));
            report.Bytes("msgbox_text", TextOf(ChildOfClass(box, "Static")));
            report.Line("msgbox", "shown");
        },
        {"Attenzione"});
}

// Lets the test press its keys on the box, then reports how many reached it and
// asked it to close, and whether it is still there.
bool AwaitKeys(Report& report, Handshake& test, HWND box, const ProbeWindow& window) {
    {
        CloseRequestCounter counter(box);
        report.Line("hooked", Flag(counter.hooked()));
        if (!test.Await("keys")) {
            return false;
        }
        report.Line("escape_keys", std::to_string(CloseRequestCounter::escapes()));
        report.Line("f4_keys", std::to_string(CloseRequestCounter::f4s()));
        report.Line("close_requests", std::to_string(CloseRequestCounter::closes()));
    }
    report.Line("box_after_keys", Flag(IsWindow(box) != FALSE && IsWindowVisible(box) != FALSE));
    report.Line("probe_enabled_after_keys", Flag(window.enabled()));
    return true;
}

HWND OpenedBox() {
    return VisibleDialogs(GetCurrentThreadId()).found;
}

void ReportClosed(Report& report, HWND box, const ProbeWindow& window) {
    report.Line("box_exists_after", Flag(IsWindow(box) != FALSE));
    report.Line("probe_enabled_after", Flag(window.enabled()));
    report.Line("dialogs_after", std::to_string(VisibleDialogs(GetCurrentThreadId()).count));
    ReportCurmsg(report, "curmsg_after");
}

int Progress(Report& report, Handshake& test) {
    const std::string first = "Copia in corso del nastro sulla porta seriale";
    const std::string second = "attendere";
    report.Line("measured_first", std::to_string(ScreenTextWidth(first)));
    report.Line("measured_second", std::to_string(ScreenTextWidth(second)));
    ProbeWindow window;
    SYSREFRESH();  // let it come up before the box opens
    report.Line("active_is_probe", Flag(window.active()));

    WaitRequest range;
    range.nMin = 0;
    range.nMax = 10;
    POPMSG(first + ";" + second, std::nullopt, std::nullopt, range);
    ReportCurmsg(report, "curmsg_open");
    HWND box = OpenedBox();
    ReportBox(report, box, window);
    if (box == nullptr) {
        return 1;
    }
    HWND text_line = ChildOfClass(box, "Static");
    report.Bytes("text_line", TextOf(text_line));
    ReportChildRect(report, "text_line_rect", box, text_line);
    HWND bar = ChildOfClass(box, PROGRESS_CLASSA);
    report.Line("progress_found", Flag(bar != nullptr));
    ReportChildRect(report, "progress_rect", box, bar);
    report.Line("progress_range", std::to_string(SendMessageA(bar, PBM_GETRANGE, TRUE, 0)) + "," +
                                      std::to_string(SendMessageA(bar, PBM_GETRANGE, FALSE, 0)));

    if (!AwaitKeys(report, test, box, window)) {
        return 1;
    }
    ReportCurmsg(report, "curmsg_after_keys");

    WaitRequest update;
    update.lSetMsg = true;
    update.nPos = 5;
    POPMSG("Copiati 5 file;su 10", std::nullopt, std::nullopt, update);
    ReportCurmsg(report, "curmsg_update");
    report.Bytes("text_line_update", TextOf(text_line));
    report.Line("progress_pos", std::to_string(SendMessageA(bar, PBM_GETPOS, 0, 0)));
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    report.Line("version", std::to_string(version.dwMajorVersion) + "." +
                               std::to_string(version.dwMinorVersion));
    report.Line("dialogs_update", std::to_string(VisibleDialogs(GetCurrentThreadId()).count));
    if (!test.Await("updated")) {
        return 1;
    }

    {
        Timeline timeline(window.get(), box);
        report.Line("timeline_hooked", Flag(timeline.hooked()));
        const auto watcher = MessageBoxWatcher(report, box, window.get());
        POPMSG("Fatto", 1);
        report.Line("timeline", Timeline::Events());
    }
    ReportClosed(report, box, window);
    return 0;
}

int Blank(Report& report, Handshake& test) {
    ProbeWindow window;
    SYSREFRESH();  // let it come up before the box opens
    report.Line("active_is_probe", Flag(window.active()));
    POPMSG("", std::nullopt);
    ReportCurmsg(report, "curmsg_open");
    HWND box = OpenedBox();
    ReportBox(report, box, window);
    if (box == nullptr) {
        return 1;
    }
    report.Bytes("text_line", TextOf(ChildOfClass(box, "Static")));

    // A second request to open a box while one is open opens none.
    POPMSG("Un altro testo", std::nullopt);
    ReportCurmsg(report, "curmsg_second");
    report.Line("dialogs_second", std::to_string(VisibleDialogs(GetCurrentThreadId()).count));
    report.Bytes("text_line_second", TextOf(ChildOfClass(box, "Static")));
    if (!test.Await("seen")) {
        return 1;
    }

    POPMSG(std::nullopt, std::nullopt);
    ReportClosed(report, box, window);
    return 0;
}

// The outer size of a window made from the "PRINTDLG" resource as it stands.
SIZE PrintDialogSize() {
    HWND made = CreateDialogParamA(
        GetModuleHandleA(nullptr), "PRINTDLG", nullptr,
        [](HWND, UINT message, WPARAM, LPARAM) -> INT_PTR { return message == WM_INITDIALOG; }, 0);
    SIZE size{};
    if (made != nullptr) {
        RECT outer{};
        GetWindowRect(made, &outer);
        size = {outer.right - outer.left, outer.bottom - outer.top};
        DestroyWindow(made);
    }
    return size;
}

int Printing(Report& report, Handshake& test) {
    const SIZE resource = PrintDialogSize();
    report.Line("resource_size", std::to_string(resource.cx) + "," + std::to_string(resource.cy));
    ProbeWindow window;
    SYSREFRESH();  // let it come up before the box opens
    report.Line("active_is_probe", Flag(window.active()));

    WaitRequest print;
    print.lPrint = true;
    POPMSG(std::nullopt, std::nullopt, std::nullopt, print);
    ReportCurmsg(report, "curmsg_open");
    HWND box = OpenedBox();
    ReportBox(report, box, window);
    if (box == nullptr) {
        return 1;
    }
    WaitRequest page;
    page.lPag = true;
    report.Bytes("page_open", TextOf(GetDlgItem(box, 102)));
    POPMSG(std::nullopt, std::nullopt, std::nullopt, page);
    report.Bytes("page_first", TextOf(GetDlgItem(box, 102)));
    POPMSG(std::nullopt, std::nullopt, std::nullopt, page);
    report.Bytes("page_second", TextOf(GetDlgItem(box, 102)));
    HWND cancel = GetDlgItem(box, 201);
    report.Line("cancel_exists", Flag(cancel != nullptr));
    report.Line("cancel_visible", Flag(IsWindowVisible(cancel) != FALSE));
    report.Line("picture", Flag(SendDlgItemMessageA(box, 101, STM_GETIMAGE, IMAGE_BITMAP, 0) != 0));
    if (!AwaitKeys(report, test, box, window)) {
        return 1;
    }

    POPMSG(std::nullopt, std::nullopt);
    ReportClosed(report, box, window);
    return 0;
}

}  // namespace

kestrel::testing::ProbeProgram kestrel::testing::TheProbeProgram() {
    // Each command waits on the test through the folder of the report file.
    const auto with_handshake = [](int (*command)(Report&, Handshake&)) {
        return [command](Report& report, const std::vector<std::string>&) {
            Handshake test(report, report.path());
            return command(report, test);
        };
    };
    return {"usage: kestrel_wait_probe progress|blank|printing REPORT",
            {{"progress", 0, with_handshake(Progress)},
             {"blank", 0, with_handshake(Blank)},
             {"printing", 0, with_handshake(Printing)}}};
}
