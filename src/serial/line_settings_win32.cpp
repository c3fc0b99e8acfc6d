#include <windows.h>

#include <cstring>

#include "serial/port.h"
#include "serial/port_table_win32.h"

namespace kestrel::serial {
namespace {

// The fields a device-definition text does not name start from values that every
// driver accepts: binary mode, DTR and RTS held raised (OPENCOMM raised DTR, and a
// settings change must not drop it), no flow control of any kind, distinct XON/XOFF
// characters and limits that fit even the smallest driver queue.
DCB DefaultLineSettings() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = CBR_9600;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    dcb.XonLim = 256;
    dcb.XoffLim = 256;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

}  // namespace

bool BUILDCOMMDCB(std::string_view text, std::string& settings) {
    DCB dcb = DefaultLineSettings();
    const std::string terminated(text);
    if (!BuildCommDCBA(terminated.c_str(), &dcb)) {
        settings.clear();
        return false;
    }
    settings.assign(reinterpret_cast<const char*>(&dcb), sizeof dcb);
    return true;
}

bool SETCOMMSTATE(PortHandle port, std::string_view settings) {
    const PortRecord* record = OpenPorts().Find(port);
    DCB dcb;
    if (record == nullptr || settings.size() != sizeof dcb) {
        return false;
    }
    std::memcpy(&dcb, settings.data(), sizeof dcb);
    return SetCommState(record->device.get(), &dcb) != FALSE;
}

}  // namespace kestrel::serial
