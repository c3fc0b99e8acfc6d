#include "app/session_start.h"

#include "app/tape_file.h"
#include "base/blank.h"

namespace kestrel::app {

std::string ChosenTape(std::span<const char* const> arguments,
                       const std::function<std::string()>& choose_tape) {
    if (arguments.size() == 2 && arguments[1] != nullptr) {
        return std::string(arguments[1]);
    }
    return choose_tape();
}

std::optional<std::string> StartSession(std::span<const char* const> arguments,
                                        const SessionStartServices& services) {
    const std::string chosen_file = ChosenTape(arguments, services.choose_tape);
    std::string port_name = services.port_setting.Read();
    if (base::IsBlank(chosen_file)) {
        return std::nullopt;
    }
    const std::optional<std::string> refused = services.load_tape(chosen_file);
    // A file was chosen: the default port is written back whatever the tape held.
    if (base::IsBlank(port_name)) {
        port_name = std::string(kDefaultPort);
        services.port_setting.Write(port_name);
    }
    if (refused) {
        services.messages.PopMsg(*refused);
        return std::nullopt;
    }
    return port_name;
}

std::optional<std::string> LoadSessionTape(TapeImage& image, const std::string& path) {
    TapeLoad load = LoadTapeFile(path);
    if (load.refusal) {
        return "Impossibile inviare il nastro " + path + ": " + DescribeRefusal(*load.refusal) +
               ".";
    }
    image.Assign(std::move(load.image));
    return std::nullopt;
}

bool SessionWindowMayClose(KeyState& keys) {
    return !keys.IsHeld(kVkF4);
}

}  // namespace kestrel::app
