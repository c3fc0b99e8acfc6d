#pragma once

#include "app/port_session.h"
#include "app/session_services.h"

namespace kestrel::app {

// The session's seams over the serial port layer, the keyboard and the platform's
// pause, for the real program.

class SerialPortLayer : public PortLayer {
  public:
    serial::PortHandle OpenComm(std::string_view device, int input_queue,
                                int output_queue) override;
    bool BuildCommDcb(std::string_view text, std::string& settings) override;
    bool SetCommState(serial::PortHandle port, std::string_view settings) override;
    int ReadComm(serial::PortHandle port, std::string& buffer) override;
    bool EnableCommNotification(serial::PortHandle port, serial::WindowHandle window,
                                int receive_threshold, int transmit_threshold) override;
    bool CloseComm(serial::PortHandle port) override;
};

// WRITECOMM that keeps the session window alive while an entry goes out; a write
// that the loop asks to stop and that has not completed kStalledWrite later (the
// line has stopped reading) is given up.
class SerialPortWriter : public PortWriter {
  public:
    WriteOutcome Write(serial::PortHandle port, std::string_view bytes,
                       const Waiting& waiting) override;
};

class AsyncKeyState : public KeyState {
  public:
    bool IsHeld(int virtual_key) override;
};

class ThreadPause : public Pause {
  public:
    void Sleep(int milliseconds) override;
};

}  // namespace kestrel::app
