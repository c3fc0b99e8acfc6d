#include "serve/network_address.h"

#include <algorithm>

namespace kestrel::serve {
namespace {

constexpr unsigned kLastPort = 65535;

std::variant<std::uint16_t, std::string> ParsePort(std::string_view text) {
    if (text.empty()) {
        return std::string("no port given");
    }
    if (text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return "the port " + std::string(text) + " is not a number from 1 to 65535";
    }
    unsigned port = 0;
    for (const char digit : text) {
        port = port * 10 + static_cast<unsigned>(digit - '0');
    }
    if (port == 0 || port > kLastPort) {
        return "the port " + std::string(text) + " is not a number from 1 to 65535";
    }
    return static_cast<std::uint16_t>(port);
}

}  // namespace

std::string NetworkAddress::Text() const {
    const std::string shown = host.find(':') == std::string::npos ? host : "[" + host + "]";
    return shown + ":" + std::to_string(port);
}

std::variant<NetworkAddress, std::string> ParseNetworkAddress(std::string_view text,
                                                              std::string_view default_host) {
    std::string_view host;
    std::string_view port;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close == 1) {
            return "the address " + std::string(text) + " has no closing ] after its host";
        }
        host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (!rest.starts_with(':')) {
            return "the address " + std::string(text) + " has no port";
        }
        port = rest.substr(1);
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string_view::npos) {
            if (default_host.empty()) {
                return "the address " + std::string(text) + " has no port (HOST:PORT)";
            }
            host = default_host;
            port = text;
        } else {
            host = text.substr(0, colon);
            port = text.substr(colon + 1);
            if (host.find(':') != std::string_view::npos) {
                return "the IPv6 address in " + std::string(text) + " goes in brackets ([" +
                       std::string(host) + "]:" + std::string(port) + ")";
            }
            if (host.empty()) {
                return "the address " + std::string(text) + " has no host";
            }
        }
    }
    const auto parsed = ParsePort(port);
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        return "in " + std::string(text) + ", " + *error;
    }
    return NetworkAddress{std::string(host), std::get<std::uint16_t>(parsed)};
}

}  // namespace kestrel::serve
