#pragma once

#include <string>
#include <string_view>

#include "common/calendar_date.h"

namespace kestrel::common {

// Asks the user for one value in a small modal dialog: the prompt, one input field
// holding `value`, and the buttons "&Conferma" (the default: Enter confirms) and
// "&Annulla". The field edits a copy; only a confirmed close stores it back into
// `value` and answers true. Esc, the close box and "&Annulla" leave `value` as it
// was and answer false.
bool MSGGET(std::string_view title, std::string_view prompt, std::string& value);

// The same for a date: the field reads "dd/mm/yy", "  /  /  " for the empty date. A
// confirmed close is refused with "Data non valida." while the text is no date; a
// field left empty confirms the empty date. A text left as it was shown leaves the
// value as it was (a year outside 1980-2079 keeps its century).
bool MSGGET(std::string_view title, std::string_view prompt, Date& value);

// The same for a number, in a field of `width` characters (sign and point included)
// with `decimals` digits after the point. A confirmed close is refused with "Numero
// troppo grande." while the number does not fit; a blank field confirms zero. A text
// left as it was shown leaves the value as it was (not rounded to `decimals`).
bool MSGGET(std::string_view title, std::string_view prompt, double& value, int width = 10,
            int decimals = 0);

}  // namespace kestrel::common
