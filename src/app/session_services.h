#pragma once

#include <string>
#include <string_view>

#include "serial/port_handle.h"

namespace kestrel::app {

// The narrow seams through which the command loop reaches the platform. The real
// program plugs in the serial port layer, the keyboard, the window framework's
// message pump and the session window's log control; the unit tests plug in fakes
// that record every byte, pause and log line.

// WRITECOMM: writes the bytes and returns only when the write has completed.
class PortWriter {
  public:
    virtual ~PortWriter() = default;
    virtual int Write(serial::PortHandle port, std::string_view bytes) = 0;
};

// GETASYNCKEYSTATE: whether a key (by virtual-key code) is down at this moment.
class KeyState {
  public:
    virtual ~KeyState() = default;
    virtual bool IsHeld(int virtual_key) = 0;
};

// SYSREFRESH: handles every pending window message, then returns at once. Received
// bytes reach the ReceiveBuffer only from inside it.
class MessagePump {
  public:
    virtual ~MessagePump() = default;
    virtual void SysRefresh() = 0;
};

// SLEEP: holds the calling thread for a number of milliseconds, pumping nothing.
class Pause {
  public:
    virtual ~Pause() = default;
    virtual void Sleep(int milliseconds) = 0;
};

struct SessionServices {
    PortWriter& port;
    KeyState& keys;
    MessagePump& pump;
    Pause& pause;
};

// The session's log control as the command loop sees it: the bound log text, the
// control's redisplay and scrolling, and the end of the window the control is on.
class LogView {
  public:
    virtual ~LogView() = default;
    virtual std::string VarGet() = 0;
    virtual void VarPut(std::string text) = 0;
    virtual void Refresh() = 0;
    virtual void GoBottom() = 0;
    // End on the control's window; the window's closing rule may refuse it.
    virtual void EndWindow() = 0;
};

}  // namespace kestrel::app
