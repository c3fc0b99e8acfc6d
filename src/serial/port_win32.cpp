#include <windows.h>

#include <algorithm>
#include <climits>
#include <span>

#include "serial/port.h"
#include "serial/port_table_win32.h"
#include "serial/receive_thread_win32.h"

namespace kestrel::serial {
namespace {

constexpr DWORD kLargestWrite = 1u << 20;

UniqueHandle OpenDevice(std::string_view device) {
    const std::string path(device);
    return UniqueHandle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
}

// The events a port needs besides its device; false when the platform has none left.
bool MakeEvents(PortRecord& port) {
    port.read_event.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    port.stop_event.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    port.room_event.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    return port.read_event && port.stop_event && port.room_event;
}

// One overlapped write of the bytes; how many the platform reports written. A write
// the platform refuses at once returns 0 without waiting.
DWORD WriteOnce(PortRecord& port, std::span<const char> bytes) {
    UniqueHandle completed(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!completed) {
        return 0;
    }
    port.write_completion = OVERLAPPED{};
    port.write_completion.hEvent = completed.get();
    HANDLE device = port.device.get();
    if (!WriteFile(device, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr,
                   &port.write_completion) &&
        GetLastError() != ERROR_IO_PENDING) {
        return 0;
    }
    DWORD written = 0;
    WaitForSingleObject(completed.get(), INFINITE);
    GetOverlappedResult(device, &port.write_completion, &written, FALSE);
    return written;
}

}  // namespace

PortHandle OPENCOMM(std::string_view device, std::optional<long long> input_queue,
                    std::optional<long long> output_queue) {
    const QueueSizes queues = QueueSizesFor(input_queue, output_queue);
    PortTable& ports = OpenPorts();
    PortRecord* port = ports.Add();
    if (port == nullptr) {
        return kNoPort;
    }
    port->device = OpenDevice(device);
    if (!port->device || !MakeEvents(*port)) {
        ports.Remove(port->handle);
        return kNoPort;
    }
    HANDLE handle = port->device.get();
    SetupComm(handle, queues.input, queues.output);
    SetCommMask(handle, EV_RXCHAR);
    EscapeCommFunction(handle, SETDTR);  // fails on a pseudo-terminal; harmless
    if (!StartReceiveThread(*port)) {
        ports.Remove(port->handle);
        return kNoPort;
    }
    return port->handle;
}

bool CLOSECOMM(PortHandle port) {
    PortTable& ports = OpenPorts();
    if (PortRecord* record = ports.Find(port)) {
        StopReceiveThread(*record);
        ports.Remove(port);
    }
    return true;
}

int WRITECOMM(PortHandle port, std::string_view bytes) {
    PortRecord* record = OpenPorts().Find(port);
    if (record == nullptr) {
        return 0;
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const std::size_t piece = std::min<std::size_t>(bytes.size() - written, kLargestWrite);
        const DWORD done = WriteOnce(*record, bytes.substr(written, piece));
        written += done;
        if (done == 0) {
            break;
        }
    }
    return static_cast<int>(std::min<std::size_t>(written, INT_MAX));
}

int READCOMM(PortHandle port, std::string& buffer) {
    PortRecord* record = OpenPorts().Find(port);
    if (record == nullptr) {
        return 0;
    }
    const std::size_t taken = record->ring.Take(buffer);
    if (taken > 0) {
        SetEvent(record->room_event.get());
    }
    return static_cast<int>(std::min<std::size_t>(taken, INT_MAX));
}

bool ENABLECOMMNOTIFICATION(PortHandle port, WindowHandle window, int /*receive_threshold*/,
                            int /*transmit_threshold*/) {
    if (PortRecord* record = OpenPorts().Find(port)) {
        record->notify_window.store(window, std::memory_order_release);
        if (window != 0) {
            // A receive thread that waits for room in a full ring cannot see a new
            // arrival; let it tell the newly armed window what is waiting.
            SetEvent(record->room_event.get());
        }
    }
    return true;
}

int OpenPortCount() {
    return OpenPorts().Count();
}

}  // namespace kestrel::serial
