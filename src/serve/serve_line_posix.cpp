#include "serve/serve_line_posix.h"

#include <utility>

namespace kestrel::serve {
namespace {

using Opened = std::variant<ServeLine, ServeLine::OpenError>;

}  // namespace

Opened ServeLine::Open(const ServeOptions& options, WaitBreakers breakers, std::FILE* out) {
    if (options.connect_to || options.listen_on) {
        auto opened = options.connect_to ? NetworkLine::Connect(*options.connect_to, breakers)
                                         : NetworkLine::Accept(*options.listen_on, breakers, out);
        if (auto* error = std::get_if<NetworkLine::OpenError>(&opened)) {
            return OpenError{error->message, error->stop_cause};
        }
        NetworkLine& line = std::get<NetworkLine>(opened);
        std::string name = "tcp:" + line.peer();
        return ServeLine(std::move(line), SocketQueue(), std::move(name));
    }
    auto opened = serial::SerialLine::Open(options.device);
    if (auto* error = std::get_if<serial::SerialLine::OpenError>(&opened)) {
        return OpenError{error->message, {}};
    }
    return ServeLine(std::get<serial::SerialLine>(std::move(opened)), SerialQueue(),
                     options.device);
}

int ServeLine::fd() const {
    return std::visit([](const auto& line) { return line.fd(); }, line_);
}

}  // namespace kestrel::serve
