#pragma once

namespace kestrel::ui {

// Handles every window message pending on the calling thread, then returns at once
// (it never waits). True when the queue was drained, false when a quit message was
// met: that message is not dispatched, and it is posted again while a framework
// modal run is in progress, so that run ends too. Runs nested without harm.
bool SYSREFRESH();

// True while a framework modal run is in progress.
bool LWRUNNING();

}  // namespace kestrel::ui
