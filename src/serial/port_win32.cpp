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

base::UniqueHandle OpenDevice(std::string_view device) {
    const std::string path(device);
    return base::UniqueHandle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING,
                                          FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The events a port needs besides its device; false when the platform has none left.
bool MakeEvents(PortRecord& port) {
    port.read_event.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    port.stop_event.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    port.room_event.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    return port.read_event && port.stop_event && port.room_event;
}

// An overlapped write in flight. Its completion record and the bytes it reads stay
// valid until the platform is done with them: leaving early, on a failure thrown by
// what runs while it waits, cancels the write and waits for the cancellation first.
class PendingWrite {
  public:
    PendingWrite(HANDLE device, OVERLAPPED& completion)
        : device_(device), completion_(completion) {}
    PendingWrite(const PendingWrite&) = delete;
    PendingWrite& operator=(const PendingWrite&) = delete;
    ~PendingWrite() {
        if (!finished_) {
            CancelIoEx(device_, &completion_);
            Finish();
        }
    }
    void Cancel() { CancelIoEx(device_, &completion_); }
    // Waits until the platform has finished the write; how many bytes it wrote.
    DWORD Finish() {
        DWORD written = 0;
        GetOverlappedResult(device_, &completion_, &written, TRUE);
        finished_ = true;
        return written;
    }

  private:
    HANDLE device_;
    OVERLAPPED& completion_;
    bool finished_ = false;
};

// True when a quit message waits in the thread's queue: what runs while a write
// waits leaves it there (the pump puts it back for a modal run). Dispatches nothing.
bool QuitLeftInQueue() {
    MSG msg{};
    return PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT,
                        PM_NOREMOVE | PM_NOYIELD | PM_QS_POSTMESSAGE) != FALSE;
}

// Waits for the write; one that has not completed within kWriteFirstWaitMs hears from
// `waiting` then, and from then on whenever a message arrives for the thread and at
// least every kWriteWaitTickMs. A short write (a header, a block on a fast line) thus
// handles no message in the middle of a block. While a quit message stays in the
// queue after `waiting` has run, the next wait is for the write alone: a message that
// is never taken would otherwise end every wait at once. Gives the write up (true)
// when `waiting` says so.
bool WaitForWrite(PendingWrite& write, HANDLE completed, const WriteWaiting& waiting) {
    if (WaitForSingleObject(completed, kWriteFirstWaitMs) != WAIT_TIMEOUT) {
        return false;
    }
    for (;;) {
        if (!waiting()) {
            write.Cancel();
            return true;
        }
        const DWORD woke = QuitLeftInQueue()
                               ? WaitForSingleObject(completed, kWriteWaitTickMs)
                               : MsgWaitForMultipleObjectsEx(1, &completed, kWriteWaitTickMs,
                                                             QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) {
            return false;
        }
    }
}

struct WriteResult {
    DWORD written = 0;
    bool given_up = false;
};

// One overlapped write of the bytes; how many the platform reports written. A write
// the platform refuses at once returns 0 without waiting. Without `waiting` the
// thread blocks until the write completes.
WriteResult WriteOnce(PortRecord& port, std::span<const char> bytes, const WriteWaiting* waiting) {
    base::UniqueHandle completed(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!completed) {
        return {};
    }
    OVERLAPPED completion{};
    completion.hEvent = completed.get();
    HANDLE device = port.device.get();
    if (!WriteFile(device, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &completion) &&
        GetLastError() != ERROR_IO_PENDING) {
        return {};
    }
    PendingWrite write(device, completion);
    const bool given_up = waiting != nullptr && WaitForWrite(write, completed.get(), *waiting);
    return {write.Finish(), given_up};
}

int WriteAll(PortHandle port, std::string_view bytes, const WriteWaiting* waiting) {
    PortRecord* record = OpenPorts().Find(port);
    if (record == nullptr) {
        return 0;
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const std::size_t piece = std::min<std::size_t>(bytes.size() - written, kLargestWrite);
        const WriteResult done = WriteOnce(*record, bytes.substr(written, piece), waiting);
        written += done.written;
        if (done.written == 0 || done.given_up) {
            break;
        }
    }
    return static_cast<int>(std::min<std::size_t>(written, INT_MAX));
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
    return WriteAll(port, bytes, nullptr);
}

int WRITECOMM(PortHandle port, std::string_view bytes, const WriteWaiting& waiting) {
    return WriteAll(port, bytes, &waiting);
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
