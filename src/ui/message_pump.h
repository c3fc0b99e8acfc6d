#pragma once

namespace kestrel::ui {

// Handles every window message pending on the calling thread, then returns at once
// (it never waits). True when the queue was drained, false when a quit message was
// met: that message is not dispatched, and it is posted again while a framework
// modal run is in progress, so that run ends too. Runs nested without harm.
bool SYSREFRESH();

// Sleeps until a message arrives for the calling thread (posted, sent or input), or
// timeout_ms have passed (-1: no limit); true when one came. Handles nothing. While
// SYSREFRESH has left a quit message in the queue for a modal run, it pauses for the
// time (50 ms without a limit) and answers false, so that callers that wait again and
// again are paced instead of spinning.
bool WaitForMessage(int timeout_ms);

// True while a framework modal run is in progress.
bool LWRUNNING();

}  // namespace kestrel::ui
