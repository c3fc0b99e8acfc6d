#pragma once

#include <string>
#include <string_view>

#include "app/port_session.h"

namespace kestrel::app {

// The session window's caption: the banner, two blanks, and the port with the
// fixed line settings, e.g. "KESTREL 1.00 ...  (COM1:115200,N,8,2)".
inline std::string SessionCaption(std::string_view banner, std::string_view port_name) {
    std::string caption(banner);
    caption += "  (";
    caption += port_name;
    caption += ":";
    caption += kLineSettingsText;
    caption += ")";
    return caption;
}

}  // namespace kestrel::app
