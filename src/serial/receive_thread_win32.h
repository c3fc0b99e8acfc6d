#pragma once

#include "serial/port_record_win32.h"

namespace kestrel::serial {

// Sets the device's read timeouts and starts the port's receive thread; false when
// the thread cannot be started. The record must outlive the thread (see Stop).
bool StartReceiveThread(PortRecord& port);

// Ends the receive thread and waits for it. Called on the window thread by
// CLOSECOMM. Returns only when the thread has ended: afterwards it sends nothing and
// touches nothing of the record.
void StopReceiveThread(PortRecord& port);

}  // namespace kestrel::serial
