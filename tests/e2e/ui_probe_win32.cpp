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
//       reports the answer and what a watcher thread read from the box meanwhile:
//       its caption, its texts, and whether the probe's window owned it.
// Every report ends with the line "done".
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "e2e/probe_report.h"
#include "support/probe_windows_win32.h"
#include "common/popmsg.h"
#include "ui/current_dir.h"
#include "ui/file_dialog.h"

namespace {

using kestrel::common::PopAnswer;

using Report = kestrel::testing::ProbeReport;
using kestrel::testing::ProbeWindow;

std::string CurrentDirectory() {
    char buffer[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, buffer);
    return buffer;
}

// Watches, from its own thread, for a dialog box (a message box or the file dialog)
// of the probe's main thread and reports what it shows and who owns it.
class BoxWatcher {
  public:
    BoxWatcher(Report& report, DWORD ui_thread, HWND expected_owner)
        : report_(report),
          ui_thread_(ui_thread),
          owner_(expected_owner),
          thread_([this] { Run(); }) {}
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;
    ~BoxWatcher() {
        stop_ = true;
        thread_.join();
    }

  private:
    void Run() {
        while (!stop_) {
            HWND box = kestrel::testing::VisibleDialogs(ui_thread_).found;
            if (box != nullptr) {
                Describe(box);
                return;
            }
            Sleep(10);
        }
    }

    void Describe(HWND box) {
        Sleep(100);  // let the box finish laying itself out
        report_.Bytes("box_title", kestrel::testing::TextOf(box));
        for (const std::string& text : kestrel::testing::StaticTexts(box)) {
            report_.Bytes("box_text", text);
        }
        report_.Line("box_owned_by_active_window", GetWindow(box, GW_OWNER) == owner_ ? "1" : "0");
        report_.Line("box", "shown");
    }

    Report& report_;
    DWORD ui_thread_;
    HWND owner_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
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
        BoxWatcher watcher(report, GetCurrentThreadId(), window.get());
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
        BoxWatcher watcher(report, GetCurrentThreadId(), window.get());
        answer = kestrel::common::POPMSG(text, kind);
    }
    report.Line("answer", Describe(answer));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: kestrel_ui_probe getfile|popmsg REPORT ...\n");
        return 2;
    }
    std::string command = argv[1];
    Report report(argv[2]);
    if (!report.ok()) {
        return 2;
    }
    int status = 2;
    if (command == "getfile") {
        status = GetFile(report, argv[3], argc > 4 ? argv[4] : nullptr);
    } else if (command == "popmsg" && argc > 4) {
        status = PopMsg(report, std::atoi(argv[3]), argv[4]);
    }
    report.Line("done", std::to_string(status));
    return status;
}
