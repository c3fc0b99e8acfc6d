#pragma once

#include <string>
#include <string_view>

namespace kestrel::errors {

// The body text of an error report made safe for a "mailto:" address: "%" becomes
// "%25" first (so no later escape is taken apart), then "&" "%26" (it would start a
// new query key), ";" "%0d%0a" (the report's line separator becomes a mail line
// break), and "#" "%23" (it would end the address).
std::string EncodeMailBody(std::string_view text);

// The address that opens a new message in the user's mail program, with no
// recipient: subject "Rapporto di errore", body "Applicazione: ", the program's full
// path, an empty line and the report text; path and text encoded as above.
std::string ErrorReportAddress(std::string_view program_path, std::string_view report);

}  // namespace kestrel::errors
