#include "app/port_session.h"

#include <algorithm>

#include "errors/source_frame.h"

namespace kestrel::app {
namespace {

std::string Message(std::string_view text, std::string_view port_name) {
    std::string message(text);
    message += " (";
    message += port_name;
    message += ").";
    return message;
}

// The routine's recovery point: a port opened before the failure is closed again.
serial::PortHandle Fail(PortLayer& ports, serial::PortHandle opened) {
    if (serial::IsOpen(opened)) {
        ports.CloseComm(opened);
    }
    return serial::kNoPort;
}

}  // namespace

std::string OpenFailedMessage(std::string_view port_name) {
    return Message("Errore di apertura della porta di comunicazione", port_name);
}

std::string LineSettingsFailedMessage(std::string_view port_name) {
    return Message("Errore di impostazione dei parametri di comunicazione", port_name);
}

std::string PortSettingsFailedMessage(std::string_view port_name) {
    return Message("Errore di impostazione della porta di comunicazione", port_name);
}

serial::PortHandle APRICOM(CommNotifyWindow& window, std::string_view port_name,
                           PortSessionServices services) {
    KESTREL_FRAME("APRICOM");
    PortLayer& ports = services.ports;
    std::string device = "\\\\.\\";
    device += port_name;
    const serial::PortHandle port =
        KESTREL_AT_LINE(ports.OpenComm(device, kPortQueueBytes, kPortQueueBytes));
    if (!serial::IsOpen(port)) {
        KESTREL_AT_LINE(services.messages.PopMsg(OpenFailedMessage(port_name)));
        return Fail(ports, serial::kNoPort);
    }
    std::string settings;
    if (!KESTREL_AT_LINE(ports.BuildCommDcb(kLineSettingsText, settings))) {
        KESTREL_AT_LINE(services.messages.PopMsg(LineSettingsFailedMessage(port_name)));
        return Fail(ports, port);
    }
    if (!KESTREL_AT_LINE(ports.SetCommState(port, settings))) {
        KESTREL_AT_LINE(services.messages.PopMsg(PortSettingsFailedMessage(port_name)));
        return Fail(ports, port);
    }
    ReceiveBuffer& received = services.received;
    window.SetCommNotify([&ports, &window, &received](serial::PortHandle notifying, int) {
        CONNECT(ports, notifying, received);
        ports.EnableCommNotification(notifying, window.hWnd(), 1, -1);
    });
    KESTREL_AT_LINE(ports.EnableCommNotification(port, window.hWnd(), 1, -1));
    return port;
}

void CONNECT(PortLayer& ports, serial::PortHandle port, ReceiveBuffer& received) {
    KESTREL_FRAME("CONNECT");
    KESTREL_AT_LINE(ports.EnableCommNotification(port, 0, 1, -1));
    received.Append(KESTREL_AT_LINE(RECEIVESTR(ports, port)));
}

std::string RECEIVESTR(PortLayer& ports, serial::PortHandle port) {
    KESTREL_FRAME("RECEIVESTR");
    std::string buffer(kReceiveChunkBytes, ' ');
    const int count = KESTREL_AT_LINE(ports.ReadComm(port, buffer));
    buffer.resize(count > 0 ? std::min(static_cast<std::size_t>(count), buffer.size()) : 0);
    return buffer;
}

}  // namespace kestrel::app
