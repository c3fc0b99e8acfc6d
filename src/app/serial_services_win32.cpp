#include "app/serial_services_win32.h"

#include <windows.h>

#include "serial/key_state.h"
#include "serial/port.h"

namespace kestrel::app {

serial::PortHandle SerialPortLayer::OpenComm(std::string_view device, int input_queue,
                                             int output_queue) {
    return serial::OPENCOMM(device, input_queue, output_queue);
}

bool SerialPortLayer::BuildCommDcb(std::string_view text, std::string& settings) {
    return serial::BUILDCOMMDCB(text, settings);
}

bool SerialPortLayer::SetCommState(serial::PortHandle port, std::string_view settings) {
    return serial::SETCOMMSTATE(port, settings);
}

int SerialPortLayer::ReadComm(serial::PortHandle port, std::string& buffer) {
    return serial::READCOMM(port, buffer);
}

bool SerialPortLayer::EnableCommNotification(serial::PortHandle port, serial::WindowHandle window,
                                             int receive_threshold, int transmit_threshold) {
    return serial::ENABLECOMMNOTIFICATION(port, window, receive_threshold, transmit_threshold);
}

bool SerialPortLayer::CloseComm(serial::PortHandle port) {
    return serial::CLOSECOMM(port);
}

WriteOutcome SerialPortWriter::Write(serial::PortHandle port, std::string_view bytes,
                                     const Waiting& waiting) {
    StalledWriteRule rule(waiting);
    const int written = serial::WRITECOMM(port, bytes, [&rule] { return rule.GoOn(); });
    return {written, rule.GaveUp()};
}

bool AsyncKeyState::IsHeld(int virtual_key) {
    return serial::GETASYNCKEYSTATE(virtual_key);
}

void ThreadPause::Sleep(int milliseconds) {
    serial::SLEEP(milliseconds);
}

}  // namespace kestrel::app
