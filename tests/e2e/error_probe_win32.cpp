// A small Windows program that runs the real start-up and shut-down order with the
// real error handler, for the end-to-end tests of the final error report:
//
//   kestrel_error_probe error REPORT
//       starts like the tool (ERRORSYS, OleInitialize, INIT, the framework's GDI+),
//       then its main routine opens a dialog whose init callback raises a framework
//       error. The handler's final report box waits for the test's keystroke.
//   kestrel_error_probe wait REPORT
//       starts the same way; its main routine opens a please-wait window and
//       returns with it still open. "wait_box_open" says whether it showed,
//       "wait_box_after_exit" whether its window still exists once the library's
//       shut-down has run (before the framework's).
//
// The report file gets one "name=value" line per event: "step" for every stage of
// the order, "after_error" if the main routine went on past the error, "mail" (hex)
// for the address the shell would have been given (the shell call itself is kept
// out, so a test never starts the machine's mail program), "frame_line" for the line
// that the main routine's frame carries, and "done" last.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <string>

#include "e2e/probe_program.h"
#include "e2e/probe_report.h"
#include "common/popmsg.h"
#include "common/startup_procedures_win32.h"
#include "errors/errorsys_win32.h"
#include "errors/program_run.h"
#include "errors/source_frame.h"
#include "support/probe_windows_win32.h"
#include "ui/dialog_win32.h"
#include "ui/framework_errors.h"
#include "ui/framework_startup_win32.h"

namespace {

using namespace kestrel;

using Report = kestrel::testing::ProbeReport;

// The platform's handler services, with the shell call reported instead of made.
class ProbeServices final : public errors::ErrorHandlerServices {
  public:
    explicit ProbeServices(Report& report) : report_(report) {}
    void ReleaseSemaphore() override { platform_.ReleaseSemaphore(); }
    void Inform(std::string_view text) override { platform_.Inform(text); }
    bool Ask(std::string_view text) override {
        report_.Line("box", "asked");
        return platform_.Ask(text);
    }
    std::string ProgramPath() override { return platform_.ProgramPath(); }
    void OpenWithShell(const std::string& address) override { report_.Bytes("mail", address); }
    void SetNetworkError() override { platform_.SetNetworkError(); }
    void PostQuit() override {
        report_.Line("step", "quit");
        platform_.PostQuit();
    }

  private:
    Report& report_;
    errors::PlatformErrorServices platform_;
};

void PROBEMAIN(Report& report) {
    const errors::SourceFrame frame("PROBEMAIN", __LINE__);
    report.Line("frame_line", std::to_string(frame.line()));
    ui::DialogOptions options;
    options.caption = "Sonda errori";
    options.width = 300;
    options.height = 200;
    ui::TDialog dialog(options);
    ui::ActivateOptions run;
    run.init = [](ui::TDialog&) {
        ui::RaiseFrameworkError(ui::FrameworkError::kNonDefinedId, ui::ControlIdOperation(7));
        return true;
    };
    dialog.Activate(run);
    report.Line("after_error", "1");
}

// Leaves a please-wait window open for the program's end; answers its window.
HWND WAITMAIN(Report& report) {
    common::POPMSG("Attendere prego", std::nullopt);
    const HWND box = kestrel::testing::VisibleDialogs(GetCurrentThreadId(), "Attendere").found;
    report.Line("wait_box_open", box != nullptr ? "1" : "0");
    return box;
}

// The start-up order around PROBEMAIN, or around WAITMAIN when `leave_wait_window`.
int RunOrder(Report& report, bool leave_wait_window) {
    HWND wait_box = nullptr;
    ProbeServices services(report);
    auto step = [&report](const char* name) { report.Line("step", name); };
    errors::RunProgram({
        .initialize_module_values = [&] { step("module values"); },
        .install_error_callback =
            [&] {
                step("ERRORSYS");
                errors::ERRORSYS(&services);
            },
        .start_components = [&] { step(SUCCEEDED(OleInitialize(nullptr)) ? "OLE" : "no OLE"); },
        .stop_components =
            [&] {
                OleUninitialize();
                step("OLE off");
            },
        .startup = {{"INIT",
                     [&] {
                         common::LibraryStartup();
                         step("INIT");
                     }},
                    {"framework",
                     [&] {
                         ui::FrameworkStartup();
                         step("GDI+ on");
                     }}},
        .main =
            [&] {
                step("MAIN");
                if (leave_wait_window) {
                    wait_box = WAITMAIN(report);
                } else {
                    PROBEMAIN(report);
                }
            },
        .shutdown = {{"EXIT",
                      [&] {
                          common::LibraryShutdown();
                          if (leave_wait_window) {
                              report.Line("wait_box_after_exit", IsWindow(wait_box) ? "1" : "0");
                          }
                          step("EXIT");
                      }},
                     {"framework",
                      [&] {
                          ui::FrameworkShutdown();
                          step("GDI+ off");
                      }}},
    });
    return 0;
}

}  // namespace

kestrel::testing::ProbeProgram kestrel::testing::TheProbeProgram() {
    return {"usage: kestrel_error_probe error|wait REPORT",
            {{"error", 0, [](Report& report, const auto&) { return RunOrder(report, false); }},
             {"wait", 0, [](Report& report, const auto&) { return RunOrder(report, true); }}}};
}
