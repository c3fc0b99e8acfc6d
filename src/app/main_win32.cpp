#include "app/main_win32.h"

#include <stdlib.h>

#include <optional>
#include <span>
#include <string>

#include "app/command_loop.h"
#include "app/module_state.h"
#include "app/port_session.h"
#include "app/serial_services_win32.h"
#include "app/session_adapters_win32.h"
#include "app/session_caption.h"
#include "app/session_start.h"
#include "common/dialog_valid_win32.h"
#include "errors/source_frame.h"
#include "ui/current_dir.h"
#include "ui/dialog_win32.h"
#include "ui/file_dialog.h"
#include "ui/multiget_win32.h"
#include "ui/profile.h"

namespace kestrel::app {

namespace {

std::string ChooseTapeFile() {
    ui::CGetFileOptions options;
    options.filter = "File TAP (*.tap)|*.tap";
    options.title = "Seleziona file da inviare";
    options.initial_directory = ui::InitialDirectory(ui::CURDRIVE(), ui::CURDIR());
    return ui::CGETFILE(options);
}

std::span<const char* const> ProgramArguments() {
    if (__argv == nullptr || __argc < 0) {
        return {};
    }
    return {__argv, static_cast<std::size_t>(__argc)};
}

std::optional<std::string> LoadTape(const std::string& path) {
    return LoadSessionTape(TheTapeImage(), path);
}

// The port setting in the settings file of the current directory.
class ProfilePortSetting : public PortSetting {
  public:
    std::string Read() override {
        return ui::GETPVPROFSTRING(kSettingsSection, kPortKey, "", std::string(kSettingsFile));
    }
    void Write(std::string_view port_name) override {
        ui::WRITEPPROSTRING(kSettingsSection, kPortKey, std::string(port_name),
                            std::string(kSettingsFile));
    }
};

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
    std::string log_text;
    ProfilePortSetting port_setting;
    PopupMessages messages;
    const std::optional<std::string> port_to_open = KESTREL_AT_LINE(
        StartSession(ProgramArguments(), {ChooseTapeFile, LoadTape, port_setting, messages}));
    if (!port_to_open) {
        return;
    }
    const std::string& port_name = *port_to_open;

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
    run.valid = [](ui::TDialog& dialog) { return common::VALID(dialog, false); };
    run.resize16 = true;
    run.init = [&](ui::TDialog& dialog) {
        dialog.SetControl(log);
        port = KESTREL_AT_LINE(
            APRICOM(notify_target, port_name, {ports, messages, TheReceiveBuffer()}));
        // From here on this rule alone decides every request to end the window: no
        // closing while F4 is held, so Alt+F4 never closes it.
        dialog.bValid = [](ui::TDialog&) {
            AsyncKeyState key_state;
            return SessionWindowMayClose(key_state);
        };
        if (!serial::IsOpen(port)) {
            return dialog.End();
        }
        return true;
    };
    const PortCloser close_port(ports, port);
    KESTREL_AT_LINE(window.Activate(run));
}

}  // namespace kestrel::app
