#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace kestrel::serve {

// A TCP end point as the command line names it: a host name or numeric address and
// a port. An IPv6 address is written in brackets ("[::1]:5000"), as in URLs, so the
// colons inside it never read as the one before the port.
struct NetworkAddress {
    std::string host;  // without brackets
    std::uint16_t port = 0;

    // "host:port", or "[host]:port" when the host holds a colon.
    std::string Text() const;
};

// "HOST:PORT", or "PORT" alone when `default_host` is given (not empty); the port
// 1-65535. The reason in one line when the text is not such an address.
std::variant<NetworkAddress, std::string> ParseNetworkAddress(std::string_view text,
                                                              std::string_view default_host = {});

}  // namespace kestrel::serve
