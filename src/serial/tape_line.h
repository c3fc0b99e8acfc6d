#pragma once

#include <string_view>

namespace kestrel::serial {

// The one line both front ends serve a tape on: 115200 baud, no parity, 8 data bits
// and 2 stop bits, so 11 bits on the wire for each byte. The text is the platform's
// device-definition form, shown as it stands in the session window's caption.
inline constexpr std::string_view kTapeLineSettings = "115200,N,8,2";
inline constexpr int kTapeLineBaud = 115200;
inline constexpr int kTapeLineBitsPerByte = 11;
inline constexpr int kTapeLineBytesPerSecond = kTapeLineBaud / kTapeLineBitsPerByte;

// A write that is under way hands control back to its caller (to keep windows or the
// terminal alive, and to let it give up a stalled line) first after
// kWriteFirstWaitMs, then whenever something arrives and at least every
// kWriteWaitTickMs.
inline constexpr int kWriteFirstWaitMs = 30;
inline constexpr int kWriteWaitTickMs = 50;

}  // namespace kestrel::serial
