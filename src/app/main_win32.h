#pragma once

#include <string_view>

namespace kestrel::app {

// The product banner at the head of the session window's caption.
inline constexpr std::string_view kProductBanner = "KESTREL 1.00 (c) Kestrel tape tools";

inline constexpr std::string_view kSettingsFile = ".\\KESTREL.INI";
inline constexpr std::string_view kSettingsSection = "Impostazioni";
inline constexpr std::string_view kPortKey = "Porta";
inline constexpr std::string_view kDefaultPort = "COM1";

// One session of the tool: asks for a tape file, reads the port from the settings
// file, loads the tape, opens the session window with its log, serves the remote
// machine from inside it, and closes the port when the window has gone.
void MAIN();

}  // namespace kestrel::app
