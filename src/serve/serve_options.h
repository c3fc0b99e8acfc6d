#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace kestrel::serve {

inline constexpr std::string_view kServeUsage =
    "usage: kestrel-serve --port DEVICE TAPE   serve TAPE over the serial line DEVICE\n"
    "       kestrel-serve --list TAPE          list its entries: number, type, name, length,\n"
    "                                          param1, param2, flags, check (ok/bad/short)\n"
    "       kestrel-serve --help\n"
    "TAPE is a .tap or .tzx file, or a .zip holding one (--member NAME chooses among\n"
    "several).\n"
    "While serving, Esc or q (or Ctrl-C) sends the end byte and stops.\n"
    "Exit status: 0 the tape was served to its end, 1 stopped, 2 the port cannot be\n"
    "opened, 3 the line was lost, 64 usage, 65 the tape is refused, 66 unreadable.\n";

struct ServeOptions {
    enum class Mode { kServe, kList, kHelp };
    Mode mode = Mode::kServe;
    std::string device;  // kServe only
    std::string tape;
    std::string member;  // the tape chosen in a zip archive; empty: its only one
};

struct UsageError {
    std::string message;  // one line, without the usage text
};

// The command line, the program's name first: "--port DEVICE TAPE" (or
// "--port=DEVICE"), "--list TAPE", either with "--member NAME", "--help"/"-h".
// Anything else is a usage error.
std::variant<ServeOptions, UsageError> ParseServeOptions(std::span<const char* const> arguments);

}  // namespace kestrel::serve
