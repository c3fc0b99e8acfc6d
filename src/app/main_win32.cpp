#include "app/main_win32.h"

#include <stdlib.h>

#include <optional>
#include <string>

#include "app/command_loop.h"
#include "app/module_state.h"
#include "app/port_session.h"
#include "app/serial_services_win32.h"
#include "app/session_adapters_win32.h"
#include "app/session_caption.h"
#include "common/dialog_valid_win32.h"
#include "errors/source_frame.h"
#include "serial/key_state.h"
#include "ui/current_dir.h"
#include "ui/dialog_win32.h"
#include "ui/empty.h"
#include "ui/file_dialog.h"
#include "ui/multiget_win32.h"
#include "ui/profile.h"

namespace kestrel::app {

namespace {

constexpr int kVkF4 = 115;

std::string ChooseTapeFile() {
    ui::CGetFileOptions options;
    options.filter = "File TAP (*.tap)|*.tap";
    options.title = "Seleziona file da inviare";
    options.initial_directory = ui::InitialDirectory(ui::CURDRIVE(), ui::CURDIR());
    return ui::CGETFILE(options);
}

// A tape given as the one command-line argument (dropped on the program, "Open with",
// a shortcut) is taken as if the operator had chosen it in the file dialog.
std::optional<std::string> TapeFromCommandLine() {
    if (__argc == 2 && __argv != nullptr && __argv[1] != nullptr) {
        return std::string(__argv[1]);
    }
    return std::nullopt;
}

std::string ChosenTape() {
    if (std::optional<std::string> given = TapeFromCommandLine()) {
        return *given;
    }
    return ChooseTapeFile();
}

std::string ReadPortSetting() {
    return ui::GETPVPROFSTRING(kSettingsSection, kPortKey, "", std::string(kSettingsFile));
}

// Closes the session's port when MAIN leaves, however it leaves: after the window's
// run, or when a failure escapes the run (an abandon, or the error handler's end of
// the program), so the receive thread never outlives the session.
class PortCloser {
  public:
    PortCloser(PortLayer& ports, const serial::PortHandle& port) : ports_(ports), port_(port) {}
    PortCloser(const PortCloser&) = delete;
    PortCloser& operator=(const PortCloser&) = delete;
    ~PortCloser() {
        if (serial::IsOpen(port_)) {
            ports_.CloseComm(port_);
        }
    }

  private:
    PortLayer& ports_;
    const serial::PortHandle& port_;
};

}  // namespace

void MAIN() {
    KESTREL_FRAME("MAIN");
    const std::string chosen_file = KESTREL_AT_LINE(ChosenTape());
    std::string log_text;
    // Read even when the choice was cancelled.
    std::string port_name = KESTREL_AT_LINE(ReadPortSetting());
    if (ui::EMPTY(chosen_file)) {
        return;
    }
    KESTREL_AT_LINE(TheTapeImage().Load(chosen_file));
    if (ui::EMPTY(port_name)) {
        port_name = std::string(kDefaultPort);
        KESTREL_AT_LINE(
            ui::WRITEPPROSTRING(kSettingsSection, kPortKey, port_name, std::string(kSettingsFile)));
    }

    ui::DialogOptions window_options;
    window_options.caption = SessionCaption(kProductBanner, port_name);
    window_options.style = 0;  // a title bar and a border, no system menu, no close box
    window_options.width = 500;
    window_options.height = 500;
    ui::TDialog window(window_options);
    window.lModify = false;
    window.lHelpIcon = false;

    ui::MultiGetOptions log_options;
    log_options.binding = ui::BindTo(log_text);
    log_options.read_only = true;
    ui::TMultiGet log(log_options);

    SerialPortLayer ports;
    PopupMessages messages;
    SerialPortWriter writer;
    AsyncKeyState global_keys;
    ForegroundEsc keys(global_keys, [&window] {
        return window.hWnd != nullptr && GetForegroundWindow() == window.hWnd;
    });
    FrameworkPump pump;
    ThreadPause pause;
    DialogNotifyTarget notify_target(window);
    MultiGetLog log_view(log);
    serial::PortHandle port = serial::kNoPort;

    window.bStart = [&] {
        CommandLoop loop({writer, keys, pump, pause}, TheTapeImage(), TheReceiveBuffer());
        KESTREL_AT_LINE(loop.KESTREL(port, log_view));
    };

    ui::ActivateOptions run;
    run.centered = true;
    run.valid = [](ui::TDialog& dialog) { return common::__VALID(dialog, false); };
    run.resize16 = true;
    run.init = [&](ui::TDialog& dialog) {
        dialog.SetControl(log);
        port = KESTREL_AT_LINE(
            APRICOM(notify_target, port_name, {ports, messages, TheReceiveBuffer()}));
        // From here on this rule alone decides every request to end the window: no
        // closing while F4 is held, so Alt+F4 never closes it.
        dialog.bValid = [](ui::TDialog&) { return !serial::GETASYNCKEYSTATE(kVkF4); };
        if (!serial::IsOpen(port)) {
            return dialog.End();
        }
        return true;
    };
    const PortCloser close_port(ports, port);
    KESTREL_AT_LINE(window.Activate(run));
}

}  // namespace kestrel::app
