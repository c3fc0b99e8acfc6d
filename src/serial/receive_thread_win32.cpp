// The receive thread of an open port, and its hand-over to the window thread.
//
// Who does what. Each open port has one receive thread. It alone reads the device: it
// keeps one overlapped read pending, stores what the read brings into the port's
// ReceiveRing and, when a window is armed, sends it message 68 (wParam = the port's
// handle, lParam = 1) with SendMessage. The window thread runs everything else:
// READCOMM drains the ring from the notification callback, ENABLECOMMNOTIFICATION
// writes the notify-window word, WRITECOMM writes the device, CLOSECOMM ends the thread.
//
// Hand-over. The ring is a lock-free single-producer, single-consumer queue; the
// synchronous send is the one point where the threads meet: while the window thread
// runs the callback, this thread is parked in SendMessage and the ring holds still.
// The thread reads only as much as the ring has room for (at most 1023 bytes a pass);
// what does not fit stays in the driver's queue. When the ring is full it sleeps on
// the room event, which READCOMM signals, so nothing is ever overwritten; arming
// signals it too, so a full ring is announced to a newly armed window rather than
// waiting for an arrival the thread cannot see.
//
// Waiting. The thread keeps an overlapped ReadFile of one byte pending, with no
// timeouts: it uses no processor time until a byte arrives and completes as soon as
// one has. The pass then takes, without waiting, what else the driver holds by then
// (ClearCommError's count, a read that completes at once). Every wait is on two
// handles, the read's own event and the port's stop event, so it can always be cut
// short. After a notification whose callback took bytes but left some in the ring,
// the thread announces again at once, taking first only what the driver already
// holds, so a burst of more than 1000 bytes ending in a command is delivered whole
// without a further byte having to arrive. A callback that takes nothing is not
// called again until something new arrives.
//
// Failing devices. A read that fails, or that completes empty, starts a back-off
// (1 ms doubling to 500 ms, waiting on the stop event) that the next byte received
// resets; a failing device therefore costs a couple of wake-ups a second and sends no
// notifications.
//
// Stopping. CLOSECOMM clears the notify-window word, signals the stop event and joins
// the thread. The thread cancels its pending read (CancelIoEx) and waits for it to
// finish before it returns, so no I/O still refers to the record. If the thread is
// already parked in a SendMessage to the closing thread, the join services sent
// messages only (no posted message is taken) until the thread has ended; that send is
// the last one, since the thread checks the stop event before every send. When the
// closing thread is itself inside the handler of that send (a callback that closes
// its own port), the join answers it with ReplyMessage instead.
//
// Rejected. WaitCommEvent: under Wine with a pseudo-terminal an overlapped wait
// completes at once with an empty mask, over and over, so a loop on it spins; polling
// with Sleep costs about 5% of a core. A read of a whole pass with an interval
// timeout: it ends only after a millisecond of silence, which nearly doubles the time
// from a command byte to its answer. Killing the thread from outside: it can die
// holding the heap lock or in the middle of a send, and its pending read would still
// refer to the freed record. A lock around the ring: the two indices, each with one
// writer, need none.

#include "serial/receive_thread_win32.h"

#include <windows.h>

#include <algorithm>
#include <array>

#include "serial/port.h"

namespace kestrel::serial {
namespace {

constexpr DWORD kMaxPassBytes = 1023;
constexpr DWORD kFirstBackoffMs = 1;
constexpr DWORD kLastBackoffMs = 500;
constexpr DWORD kCloseCheckMs = 50;

enum class Outcome { kBytes, kNothing, kFailed, kStopped };

class Receiver {
  public:
    explicit Receiver(PortRecord& port) : port_(port) {}

    void Run();

  private:
    bool StopAsked() const {
        return WaitForSingleObject(port_.stop_event.get(), 0) == WAIT_OBJECT_0;
    }
    Outcome WaitAndRead();
    Outcome TakeWhatIsWaiting(DWORD limit = kMaxPassBytes);
    Outcome WaitForRoom();
    Outcome Read(DWORD count);
    bool BackOff();
    bool Notify();

    PortRecord& port_;
    std::array<char, kMaxPassBytes + 1> buffer_{};
    OVERLAPPED read_{};
    DWORD backoff_ms_ = 0;
    // The window that took nothing from the last notification of a full ring (0: none):
    // a full ring is not announced to it again, but is to a window armed after it.
    decltype(PortRecord::notify_window)::value_type ignored_full_ring_by_ = 0;
};

void Receiver::Run() {
    bool announce_again = false;
    for (;;) {
        const bool armed = port_.notify_window.load(std::memory_order_acquire) != 0;
        Outcome outcome;
        if (announce_again && armed) {
            outcome = TakeWhatIsWaiting();
        } else if (port_.ring.Room() == 0) {
            outcome = WaitForRoom();
        } else {
            outcome = WaitAndRead();
        }

        switch (outcome) {
            case Outcome::kStopped:
                return;
            case Outcome::kFailed:
                if (!BackOff()) {
                    return;
                }
                announce_again = false;
                continue;
            case Outcome::kNothing:
                // Woken with room to spare: go back and read. Woken by an arming with
                // the ring still full: announce it, unless the window has just left
                // the same full ring unread.
                if (!announce_again && (port_.ring.Room() > 0 ||
                                        ignored_full_ring_by_ ==
                                            port_.notify_window.load(std::memory_order_acquire))) {
                    continue;
                }
                break;
            case Outcome::kBytes:
                backoff_ms_ = 0;
                break;
        }
        announce_again = Notify();
    }
}

// Waits, without using the processor, until one byte has arrived, then takes what
// else the driver holds by then.
Outcome Receiver::WaitAndRead() {
    const Outcome first = Read(1);
    if (first != Outcome::kBytes) {
        return first;
    }
    const Outcome rest = TakeWhatIsWaiting(kMaxPassBytes - 1);
    return rest == Outcome::kStopped ? rest : Outcome::kBytes;
}

// Reads only the bytes the driver already holds; never waits for new ones.
Outcome Receiver::TakeWhatIsWaiting(DWORD limit) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port_.device.get(), &errors, &status)) {
        return Outcome::kNothing;
    }
    const DWORD count = std::min({limit, static_cast<DWORD>(port_.ring.Room()), status.cbInQue});
    return count == 0 ? Outcome::kNothing : Read(count);
}

Outcome Receiver::WaitForRoom() {
    const std::array<HANDLE, 2> handles{port_.room_event.get(), port_.stop_event.get()};
    const DWORD woken = WaitForMultipleObjects(2, handles.data(), FALSE, INFINITE);
    return woken == WAIT_OBJECT_0 ? Outcome::kNothing : Outcome::kStopped;
}

// One overlapped read of up to count bytes into the ring. The ring has room for
// count bytes and only gains room meanwhile, so everything read fits.
Outcome Receiver::Read(DWORD count) {
    HANDLE device = port_.device.get();
    ResetEvent(port_.read_event.get());
    read_ = OVERLAPPED{};
    read_.hEvent = port_.read_event.get();
    if (!ReadFile(device, buffer_.data(), count, nullptr, &read_) &&
        GetLastError() != ERROR_IO_PENDING) {
        ClearCommError(device, nullptr, nullptr);  // a line error blocks reads until cleared
        return Outcome::kFailed;
    }
    const std::array<HANDLE, 2> handles{port_.read_event.get(), port_.stop_event.get()};
    const DWORD woken = WaitForMultipleObjects(2, handles.data(), FALSE, INFINITE);
    DWORD received = 0;
    if (woken != WAIT_OBJECT_0) {
        CancelIoEx(device, &read_);
        GetOverlappedResult(device, &read_, &received, TRUE);  // the read must be over
        return Outcome::kStopped;
    }
    if (!GetOverlappedResult(device, &read_, &received, FALSE)) {
        ClearCommError(device, nullptr, nullptr);
        return Outcome::kFailed;
    }
    if (received == 0) {
        return Outcome::kFailed;  // a wait that ends empty is not an arrival
    }
    port_.ring.Put({buffer_.data(), received});
    return Outcome::kBytes;
}

// Waits out the next step of the back-off; false when the port is being closed.
bool Receiver::BackOff() {
    backoff_ms_ = backoff_ms_ == 0 ? kFirstBackoffMs : std::min(backoff_ms_ * 2, kLastBackoffMs);
    return WaitForSingleObject(port_.stop_event.get(), backoff_ms_) == WAIT_TIMEOUT;
}

// Sends message 68 to the armed window, if any, and waits until it has been handled.
// Returns whether to announce again at once: the callback took bytes, and some are
// still waiting in the ring.
bool Receiver::Notify() {
    const auto window = port_.notify_window.load(std::memory_order_acquire);
    if (window == 0 || port_.ring.Unread() == 0 || StopAsked()) {
        return false;
    }
    const std::size_t before = port_.ring.Unread();
    port_.delivering.store(true, std::memory_order_release);
    SendMessageA(reinterpret_cast<HWND>(window), kCommNotifyMessage,
                 static_cast<WPARAM>(port_.handle), kCommNotifyReceived);
    port_.delivering.store(false, std::memory_order_release);
    const std::size_t after = port_.ring.Unread();
    ignored_full_ring_by_ = after == before && port_.ring.Room() == 0 ? window : 0;
    return after > 0 && after < before;
}

DWORD WINAPI ReceiveThreadMain(void* record) {
    Receiver(*static_cast<PortRecord*>(record)).Run();
    return 0;
}

}  // namespace

bool StartReceiveThread(PortRecord& port) {
    // No timeouts: a read waits for as many bytes as it asks for (one, or what the
    // driver already holds), a write until the platform has completed it.
    COMMTIMEOUTS timeouts{};
    SetCommTimeouts(port.device.get(), &timeouts);
    port.receive_thread.reset(CreateThread(nullptr, 0, ReceiveThreadMain, &port, 0, nullptr));
    return static_cast<bool>(port.receive_thread);
}

void StopReceiveThread(PortRecord& port) {
    if (!port.receive_thread) {
        return;
    }
    port.notify_window.store(0, std::memory_order_release);
    SetEvent(port.stop_event.get());
    HANDLE thread = port.receive_thread.get();
    for (;;) {
        // The thread may be parked in a send to this very thread: deliver sent
        // messages (and nothing else) until it has ended.
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        const DWORD woken = MsgWaitForMultipleObjectsEx(1, &thread, kCloseCheckMs, QS_SENDMESSAGE,
                                                        MWMO_INPUTAVAILABLE);
        if (woken == WAIT_OBJECT_0) {
            break;
        }
        if (woken == WAIT_TIMEOUT) {
            // Still delivering, and no send is waiting here: this thread is inside
            // the handler of that very notification (a callback closing its own
            // port). Answer it, so the receive thread can see the stop.
            if (port.delivering.load(std::memory_order_acquire) && InSendMessage()) {
                ReplyMessage(0);
            }
        } else if (woken != WAIT_OBJECT_0 + 1) {
            WaitForSingleObject(thread, INFINITE);
            break;
        }
    }
    port.receive_thread.reset();
}

}  // namespace kestrel::serial
