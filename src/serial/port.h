#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "serial/port_handle.h"
#include "serial/tape_line.h"

namespace kestrel::serial {

// The port layer's verbs. Every one runs on the window thread and reports failure by
// its result, never by throwing. Each open port has a receive thread that moves
// incoming bytes into the port's ring; READCOMM only drains that ring, and the
// window armed with ENABLECOMMNOTIFICATION is told of arrivals by message 68.

inline constexpr int kDefaultInputQueue = 1024;
inline constexpr int kDefaultOutputQueue = 128;
inline constexpr unsigned kCommNotifyMessage = 68;  // WM_COMMNOTIFY
inline constexpr long kCommNotifyReceived = 1;      // CN_RECEIVE

// A platform window handle carried as an integer; 0 is no window.
using WindowHandle = std::uintptr_t;

// Driver queue sizes asked of the platform: the default for a missing size, then
// taken modulo 65536.
struct QueueSizes {
    std::uint16_t input;
    std::uint16_t output;
};
constexpr QueueSizes QueueSizesFor(std::optional<long long> input,
                                   std::optional<long long> output) {
    const auto wrap = [](long long size) { return static_cast<std::uint16_t>(size & 0xFFFF); };
    return {wrap(input.value_or(kDefaultInputQueue)), wrap(output.value_or(kDefaultOutputQueue))};
}

// Opens the device exclusively for overlapped reading and writing, sizes its driver
// queues, raises DTR and starts the port's receive thread. kNoPort when it fails.
PortHandle OPENCOMM(std::string_view device, std::optional<long long> input_queue = {},
                    std::optional<long long> output_queue = {});

// Stops the receive thread (no notification is sent after this returns), closes the
// device and frees the port. Always true.
bool CLOSECOMM(PortHandle port);

// Turns a device-definition text such as "115200,N,8,2" into the platform's line
// settings record. On failure the settings become empty and the result is false.
bool BUILDCOMMDCB(std::string_view text, std::string& settings);

// Applies a record made by BUILDCOMMDCB; false when it is malformed or refused.
bool SETCOMMSTATE(PortHandle port, std::string_view settings);

// Writes all the bytes and returns once the platform has completed the write; the
// result is the number of bytes written. A write the platform refuses returns at once.
int WRITECOMM(PortHandle port, std::string_view bytes);

// What the caller does while its write is under way, on the same thread: once the
// write has taken kWriteFirstWaitMs, then as soon as a window message arrives for the
// thread, and at least every kWriteWaitTickMs (serial/tape_line.h). Answering false gives the write
// up: what the platform has not yet written is cancelled and the write returns.
using WriteWaiting = std::function<bool()>;

// WRITECOMM that keeps the thread's windows alive (through `waiting`) while a long
// write goes out, and can be given up when the line has stopped taking bytes. The
// result is the number of bytes written, fewer when given up.
int WRITECOMM(PortHandle port, std::string_view bytes, const WriteWaiting& waiting);

// Copies the received bytes that are waiting, at most buffer.size() of them, to the
// front of the buffer; the rest of the buffer keeps its content. Returns how many were
// copied, 0 when none were waiting. Never waits.
int READCOMM(PortHandle port, std::string& buffer);

// Arms the port to notify the window of received bytes, or disarms it when the window
// is 0. The thresholds are accepted and have no effect. Always true.
bool ENABLECOMMNOTIFICATION(PortHandle port, WindowHandle window, int receive_threshold = 1,
                            int transmit_threshold = -1);

// How many ports are open now (for checks that a failed session left none behind).
int OpenPortCount();

}  // namespace kestrel::serial
