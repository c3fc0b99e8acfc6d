#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "serve/network_address.h"

namespace kestrel::serve {

inline constexpr std::string_view kServeUsage =
    "usage: kestrel-serve [--from N] [--member NAME] --port DEVICE TAPE\n"
    "       kestrel-serve [--from N] [--member NAME] --port tcp:HOST:PORT TAPE\n"
    "       kestrel-serve [--from N] [--member NAME] --listen [ADDR:]PORT TAPE\n"
    "       kestrel-serve [--member NAME] --list TAPE\n"
    "       kestrel-serve --help | --version\n"
    "Serves TAPE over the serial line DEVICE, a serial-over-network bridge (tcp:),\n"
    "or to the machine that connects to PORT (ADDR 127.0.0.1 unless given; 0.0.0.0:\n"
    "any). TAPE is a .tap or .tzx file, or a .zip holding one (--member NAME chooses\n"
    "among several). --from N starts with entry N. --list lists the entries: number,\n"
    "type, name, length, param1, param2, flags, check (ok/bad/short).\n"
    "While serving, Esc or q (or Ctrl-C) sends the end byte and stops. On a terminal:\n"
    "n/Right next entry, p/Left back one, Home first, digits then Enter go to that\n"
    "entry, r the entry last sent again, Space pause (requests wait until Space).\n"
    "Exit status: 0 the tape was served to its end, 1 stopped, 2 the port cannot be\n"
    "opened, 3 the line was lost, 64 usage, 65 the tape is refused, 66 unreadable.\n";

struct ServeOptions {
    enum class Mode { kServe, kList, kHelp, kVersion };
    Mode mode = Mode::kServe;
    std::string device;                        // kServe only: as given, "tcp:HOST:PORT" included
    std::optional<NetworkAddress> connect_to;  // --port tcp:HOST:PORT
    std::optional<NetworkAddress> listen_on;   // --listen [ADDR:]PORT
    std::string tape;
    std::size_t from = 0;  // kServe: the entry (1-based) the mark starts on; 0 the first
    std::string member;    // the tape chosen in a zip archive; empty: its only one
};

struct UsageError {
    std::string message;  // one line, without the usage text
};

// The command line, the program's name first: "--port DEVICE TAPE" (or
// "--port=DEVICE"; DEVICE "tcp:HOST:PORT" for a network bridge), "--listen [ADDR:]PORT TAPE"
// (or "--listen=..."), "--from N" (or "--from=N"), "--list TAPE", either with "--member
// NAME", "--help"/"-h", "--version". Anything else is a usage error.
std::variant<ServeOptions, UsageError> ParseServeOptions(std::span<const char* const> arguments);

}  // namespace kestrel::serve
