#pragma once

// Helpers for the tests that run under Wine against tests/serial/pty_remote.py, which
// plays the remote end of COM1, COM2 and COM12 and takes commands over the line itself.

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/port.h"

namespace kestrel::testing {

// The remote's pattern: byte i for a seed.
std::string Pattern(std::size_t count, int seed);
std::uint32_t Crc32(std::string_view bytes);

// The device path of a port name, as the application builds it.
std::string Device(std::string_view port_name);

// Sends one command line to the remote at the other end of the port.
void Tell(serial::PortHandle port, std::string_view command);

// Reads with READCOMM until count bytes have come or the time is up.
std::string ReadFor(serial::PortHandle port, std::size_t count,
                    std::chrono::milliseconds limit = std::chrono::seconds(20));

// Forgets earlier traffic: asks the remote for a clean line and reads up to its answer.
// True when the answer came.
bool Sync(serial::PortHandle port);

// Opens the port and synchronises with the remote; kNoPort (and a test failure) if
// either fails.
serial::PortHandle OpenSynced(std::string_view port_name);

// Opens the port again, without synchronising, and reads until what has come ends
// with `tail`; then closes it. What was read (less than the tail if time ran out).
std::string ReadAfterReopening(std::string_view port_name, std::string_view tail);

// A message-only window on the calling thread that turns message 68 into a call.
class NotifyWindow {
  public:
    struct Call {
        WPARAM port;
        LPARAM status;
        DWORD thread;
    };
    using Handler = std::function<void(serial::PortHandle port, int status)>;

    NotifyWindow();
    ~NotifyWindow();
    NotifyWindow(const NotifyWindow&) = delete;
    NotifyWindow& operator=(const NotifyWindow&) = delete;

    serial::WindowHandle handle() const { return reinterpret_cast<serial::WindowHandle>(hwnd_); }
    void OnNotify(Handler handler) { handler_ = std::move(handler); }
    const std::vector<Call>& calls() const { return calls_; }

  private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

    HWND hwnd_ = nullptr;
    Handler handler_;
    std::vector<Call> calls_;
};

// Retrieves and dispatches this thread's messages until done() or the time is up;
// returns done().
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(20));

// Handles the messages waiting for this thread now, and returns once none is left.
void PumpWaiting();

// Takes no message, and returns once a message that another thread sends (the receive
// thread's notification) waits for this thread; false when none came in time.
bool WaitForSentMessage(std::chrono::milliseconds limit = std::chrono::seconds(20));

// Bytes the port's receive ring holds now, not yet taken by READCOMM.
std::size_t RingHolds(serial::PortHandle port);

// Threads of this process now.
int ThreadCount();

}  // namespace kestrel::testing
