#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/port_session.h"
#include "app/session_services.h"
#include "app/tape_image.h"

namespace kestrel::app {

// The product banner at the head of the session window's caption.
inline constexpr std::string_view kProductBanner = "KESTREL 1.00 (c) Kestrel tape tools";

inline constexpr std::string_view kSettingsFile = ".\\KESTREL.INI";
inline constexpr std::string_view kSettingsSection = "Impostazioni";
inline constexpr std::string_view kPortKey = "Porta";
inline constexpr std::string_view kDefaultPort = "COM1";

inline constexpr int kVkF4 = 115;  // held, it keeps the session window from closing

// Where the session's port name is kept: the settings file's section "Impostazioni",
// key "Porta".
class PortSetting {
  public:
    virtual ~PortSetting() = default;
    virtual std::string Read() = 0;
    virtual void Write(std::string_view port_name) = 0;
};

// What starting a session needs of the platform.
struct SessionStartServices {
    // The file dialog: the chosen file, empty when the choice was cancelled.
    std::function<std::string()> choose_tape;
    // Loads the tape as the session's image; the message for the operator when the
    // file holds a tape that cannot be served, nothing otherwise.
    std::function<std::optional<std::string>(const std::string& path)> load_tape;
    PortSetting& port_setting;
    OperatorMessages& messages;
};

// The tape a session serves: a file given as the program's one argument (dropped on
// the program, "Open with", a shortcut) is taken as if the operator had chosen it;
// otherwise the operator chooses in the file dialog. Empty when the choice was
// cancelled. `arguments` are the program's, its own name first.
std::string ChosenTape(std::span<const char* const> arguments,
                       const std::function<std::string()>& choose_tape);

// Decides what the session starts with: the tape is chosen, the port setting read
// (even when the choice was cancelled), the tape loaded, and the port named: the
// setting, or COM1 when none is set, which is then written back so the operator
// finds it in the settings file, also when the tape is refused. The port to open;
// nothing when there is nothing to serve (the choice cancelled, or a tape refused,
// which the operator is then told).
std::optional<std::string> StartSession(std::span<const char* const> arguments,
                                        const SessionStartServices& services);

// Loads the tape file (TAP, or TZX served as its TAP equivalent) as the session's
// image. The operator's message when the file holds a tape that cannot be served;
// then the image is left as it was.
std::optional<std::string> LoadSessionTape(TapeImage& image, const std::string& path);

// The session window's closing rule once its port is open: no closing while F4 is
// held, so Alt+F4 never ends a session.
bool SessionWindowMayClose(KeyState& keys);

}  // namespace kestrel::app
