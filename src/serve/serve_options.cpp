#include "serve/serve_options.h"

#include <optional>

namespace kestrel::serve {

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
        } else if (word.starts_with("-") && word.size() > 1) {
            return UsageError{"unknown option " + std::string(word)};
        } else if (tape) {
            return UsageError{"one tape at a time (" + *tape + ", " + std::string(word) + ")"};
        } else {
            tape = std::string(word);
        }
    }
    if (list && device) {
        return UsageError{"--list and --port do not go together"};
    }
    if (!list && !device) {
        return UsageError{"--port DEVICE or --list is needed"};
    }
    if (device && device->empty()) {
        return UsageError{"--port needs a device"};
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
