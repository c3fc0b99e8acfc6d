#pragma once

#include <string>
#include <string_view>

namespace kestrel::common {

// Asks the user for one value in a small modal dialog: the prompt, one input field
// holding `value`, and the buttons "&Conferma" (the default: Enter confirms) and
// "&Annulla". The field edits a copy; only a confirmed close stores it back into
// `value` and answers true. Esc, the close box and "&Annulla" leave `value` as it
// was and answer false.
bool MSGGET(std::string_view title, std::string_view prompt, std::string& value);

}  // namespace kestrel::common
