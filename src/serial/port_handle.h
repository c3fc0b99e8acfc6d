#pragma once

namespace kestrel::serial {

// Names an open serial port. Zero or greater is an open port; -1 means no port.
// The receive notification carries the same value, so the handle the port layer
// hands out and the one a notification brings back are always equal.
using PortHandle = int;

inline constexpr PortHandle kNoPort = -1;

inline constexpr bool IsOpen(PortHandle port) {
    return port >= 0;
}

}  // namespace kestrel::serial
