#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "base/unique_handle_win32.h"
#include "serial/port_handle.h"
#include "serial/receive_ring.h"

namespace kestrel::serial {

// Everything one open port needs, owned by the port table from OPENCOMM to CLOSECOMM.
// Two threads touch it: the window thread, which runs every port routine, and the
// port's receive thread. Each field says who writes it and who reads it.
struct PortRecord {
    explicit PortRecord(PortHandle own_handle) : handle(own_handle) {}

    // The number that names this port; notifications carry it as wParam.
    // Set at creation, then read-only for both threads.
    const PortHandle handle;

    // The serial device, opened for overlapped I/O. Set by OPENCOMM before the receive
    // thread starts; used by both threads (reads by the receive thread, writes and
    // settings by the window thread); closed only after the receive thread has ended.
    base::UniqueHandle device;

    // Received bytes not yet read. Producer: the receive thread. Consumer: READCOMM on
    // the window thread. The ring's indices carry the ordering (release/acquire).
    ReceiveRing ring;

    // The window to notify of received bytes, as an integer; 0 means notification is
    // off. Written by the window thread (ENABLECOMMNOTIFICATION, CLOSECOMM), loaded by
    // the receive thread once per notification. Pointer-sized and atomic.
    std::atomic<std::uintptr_t> notify_window{0};

    // True while the receive thread is inside its SendMessage of a notification.
    // Written by the receive thread; read by CLOSECOMM on the window thread.
    std::atomic<bool> delivering{false};

    // Completion event of the receive thread's reads (manual reset). Created by
    // OPENCOMM; used only by the receive thread.
    base::UniqueHandle read_event;

    // Signalled once, by CLOSECOMM on the window thread, to end the receive thread;
    // waited on by the receive thread alongside every wait it makes (manual reset).
    base::UniqueHandle stop_event;

    // Signalled on the window thread by READCOMM whenever it frees ring slots, and by
    // ENABLECOMMNOTIFICATION when it arms; waited on by the receive thread while the
    // ring is full (auto reset).
    base::UniqueHandle room_event;

    // The receive thread. Set by OPENCOMM, joined and closed by CLOSECOMM; window
    // thread only.
    base::UniqueHandle receive_thread;
};

}  // namespace kestrel::serial
