#include "serve/serve_options.h"

#include <charconv>
#include <optional>

namespace kestrel::serve {
namespace {

constexpr std::string_view kTcpPrefix = "tcp:";
// Where --listen waits when no address is given: this machine alone. Any other
// machine may connect only when asked for (0.0.0.0, or an address of the network).
constexpr std::string_view kListenHost = "127.0.0.1";
// An entry number: digits only, 1 or more.
std::optional<std::size_t> EntryNumber(std::string_view word) {
    std::size_t number = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), number);
    if (error != std::errc{} || end != word.data() + word.size() || number == 0) {
        return std::nullopt;
    }
    return number;
}

}  // namespace

std::variant<ServeOptions, UsageError> ParseServeOptions(std::span<const char* const> arguments) {
    ServeOptions options;
    std::optional<std::string> device;
    bool list = false;
    std::optional<std::string> tape;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string_view word = arguments[i];
        if (word == "--help" || word == "-h") {
            options.mode = ServeOptions::Mode::kHelp;
            return options;
        }
        if (word == "--version") {
            options.mode = ServeOptions::Mode::kVersion;
            return options;
        }
        if (word == "--list") {
            list = true;
        } else if (word == "--port") {
            if (i + 1 == arguments.size()) {
                return UsageError{"--port needs a device"};
            }
            device = arguments[++i];
        } else if (word == "--member") {
            if (i + 1 == arguments.size() || std::string_view(arguments[i + 1]).empty()) {
                return UsageError{"--member needs the name of a tape in the archive"};
            }
            options.member = arguments[++i];
        } else if (word.starts_with("--port=")) {
            device = std::string(word.substr(7));
        } else if (word == "--listen" || word.starts_with("--listen=")) {
            if (word == "--listen" && i + 1 == arguments.size()) {
                return UsageError{"--listen needs a port ([ADDR:]PORT)"};
            }
            const std::string_view address = word == "--listen" ? arguments[++i] : word.substr(9);
            auto parsed = ParseNetworkAddress(address, kListenHost);
            if (auto* error = std::get_if<std::string>(&parsed)) {
                return UsageError{"--listen " + std::string(address) + ": " + *error};
            }
            options.listen_on = std::get<NetworkAddress>(std::move(parsed));
        } else if (word == "--from" || word.starts_with("--from=")) {
            std::string_view value = word.substr(6);
            if (word == "--from") {
                if (i + 1 == arguments.size()) {
                    return UsageError{"--from needs an entry number"};
                }
                value = arguments[++i];
            } else {
                value.remove_prefix(1);
            }
            const auto number = EntryNumber(value);
            if (!number) {
                return UsageError{"--from needs an entry number (1 or more), not " +
                                  std::string(value)};
            }
            options.from = *number;
        } else if (word.starts_with("-") && word.size() > 1) {
            return UsageError{"unknown option " + std::string(word)};
        } else if (tape) {
            return UsageError{"one tape at a time (" + *tape + ", " + std::string(word) + ")"};
        } else {
            tape = std::string(word);
        }
    }
    if (list && (device || options.listen_on)) {
        return UsageError{device ? "--list and --port do not go together"
                                 : "--list and --listen do not go together"};
    }
    if (device && options.listen_on) {
        return UsageError{"--port and --listen do not go together"};
    }
    if (!list && !device && !options.listen_on) {
        return UsageError{"--port DEVICE, --listen PORT or --list is needed"};
    }
    if (device && device->starts_with(kTcpPrefix)) {
        auto parsed = ParseNetworkAddress(std::string_view(*device).substr(kTcpPrefix.size()));
        if (auto* error = std::get_if<std::string>(&parsed)) {
            return UsageError{"--port " + *device + ": " + *error};
        }
        options.connect_to = std::get<NetworkAddress>(std::move(parsed));
    }
    if (device && device->empty()) {
        return UsageError{"--port needs a device"};
    }
    if (list && options.from != 0) {
        return UsageError{"--from goes with --port"};
    }
    if (!tape) {
        return UsageError{"no tape given"};
    }
    options.mode = list ? ServeOptions::Mode::kList : ServeOptions::Mode::kServe;
    options.device = device.value_or("");
    options.tape = *tape;
    return options;
}

}  // namespace kestrel::serve
