#pragma once

#include <string>

namespace kestrel::ui {

// The text as an EDIT window can show it. The platform takes a zero-terminated
// string, so a zero byte (a tape name padded with zeros, say) would hide every
// later line of a log; it is shown as a blank instead. The bound text keeps it.
std::string DisplayableText(std::string text);

}  // namespace kestrel::ui
