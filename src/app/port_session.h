#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/receive_buffer.h"
#include "serial/port_handle.h"
#include "serial/port.h"
#include "serial/tape_line.h"

namespace kestrel::app {

inline constexpr std::string_view kLineSettingsText = serial::kTapeLineSettings;
inline constexpr int kPortQueueBytes = 16384;
inline constexpr std::size_t kReceiveChunkBytes = 1000;

// The port operations the session uses. The program plugs in the serial port layer;
// the unit tests a fake that scripts every answer.
class PortLayer {
  public:
    virtual ~PortLayer() = default;
    virtual serial::PortHandle OpenComm(std::string_view device, int input_queue,
                                        int output_queue) = 0;
    virtual bool BuildCommDcb(std::string_view text, std::string& settings) = 0;
    virtual bool SetCommState(serial::PortHandle port, std::string_view settings) = 0;
    virtual int ReadComm(serial::PortHandle port, std::string& buffer) = 0;
    virtual bool EnableCommNotification(serial::PortHandle port, serial::WindowHandle window,
                                        int receive_threshold, int transmit_threshold) = 0;
    virtual bool CloseComm(serial::PortHandle port) = 0;
};

// POPMSG kind 1: an information box titled "Attenzione" that the operator dismisses.
class OperatorMessages {
  public:
    virtual ~OperatorMessages() = default;
    virtual void PopMsg(std::string_view text) = 0;
};

// The receive-notification callback a window runs on message 68: (port, status).
using CommNotifyCallback = std::function<void(serial::PortHandle port, int status)>;

// What APRICOM needs of its window: the platform handle to arm notification for, and
// the place to install bCommNotify.
class CommNotifyWindow {
  public:
    virtual ~CommNotifyWindow() = default;
    virtual serial::WindowHandle hWnd() const = 0;
    virtual void SetCommNotify(CommNotifyCallback callback) = 0;
};

// The port session's collaborators. The callback that APRICOM installs keeps
// references to them, so they must outlive the window.
struct PortSessionServices {
    PortLayer& ports;
    OperatorMessages& messages;
    ReceiveBuffer& received;
};

// Opens the named port at 115200,N,8,2 with 16384-byte driver queues, installs the
// window's notification callback and arms notification. On failure shows one Italian
// message naming the port, closes a port it opened and returns -1.
serial::PortHandle APRICOM(CommNotifyWindow& window, std::string_view port_name,
                           PortSessionServices services);

// Appends to the ReceiveBuffer what RECEIVESTR fetches, with notification disarmed
// meanwhile.
void CONNECT(PortLayer& ports, serial::PortHandle port, ReceiveBuffer& received);

// The bytes waiting on the port, at most 1000 of them.
std::string RECEIVESTR(PortLayer& ports, serial::PortHandle port);

// The three failure messages, P being the port name.
std::string OpenFailedMessage(std::string_view port_name);
std::string LineSettingsFailedMessage(std::string_view port_name);
std::string PortSettingsFailedMessage(std::string_view port_name);

}  // namespace kestrel::app
