#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace kestrel::serve {

inline constexpr std::string_view kServeUsage =
    "usage: kestrel-serve --port DEVICE TAPE   serve TAPE (.tap or .tzx) over the serial line "
    "DEVICE\n"
    "       kestrel-serve --port DEVICE --from N TAPE   the same, from entry N\n"
    "       kestrel-serve --list TAPE          list the entries of TAPE\n"
    "       kestrel-serve --help\n"
    "While serving, Esc or q (or Ctrl-C) sends the end byte and stops. On a terminal:\n"
    "n/Right next entry, p/Left back one, Home first, digits then Enter go to that\n"
    "entry, r the entry last sent again, Space pause (requests wait until Space).\n"
    "Exit status: 0 the tape was served to its end, 1 stopped, 2 the port cannot be\n"
    "opened, 3 the line was lost, 64 usage, 65 the tape is refused, 66 unreadable.\n";

struct ServeOptions {
    enum class Mode { kServe, kList, kHelp };
    Mode mode = Mode::kServe;
    std::string device;  // kServe only
    std::string tape;
    std::size_t from = 0;  // kServe: the entry (1-based) the mark starts on; 0 the first
};

struct UsageError {
    std::string message;  // one line, without the usage text
};

// The command line, the program's name first: "--port DEVICE TAPE" (or
// "--port=DEVICE", and "--from N" or "--from=N"), "--list TAPE", "--help"/"-h". Anything else is a
// usage error.
std::variant<ServeOptions, UsageError> ParseServeOptions(std::span<const char* const> arguments);

}  // namespace kestrel::serve
