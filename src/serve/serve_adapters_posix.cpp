#include "serve/serve_adapters_posix.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/eintr_posix.h"

namespace kestrel::serve {
namespace {

using Clock = std::chrono::steady_clock;

// A network bridge passes the bytes on to the same line, so its queue goes out no
// faster.
constexpr int kLineBytesPerSecond = serial::kTapeLineBytesPerSecond;

}  // namespace

app::WriteOutcome LineWriter::Write(serial::PortHandle port, std::string_view bytes,
                                    const Waiting& waiting) {
    // The caller hears of the write whenever something came and at least every
    // serial::kWriteWaitTickMs; its "stop" gives the write up only once it has lasted
    // kStalledWrite, so an entry on a line that still reads is never cut short.
    Clock::time_point heard_at = Clock::now();
    app::StalledWriteRule rule(waiting);
    const auto go_on = [&](bool something_came) {
        const Clock::time_point now = Clock::now();
        if (!something_came &&
            now - heard_at < std::chrono::milliseconds(serial::kWriteWaitTickMs)) {
            return true;
        }
        heard_at = now;
        return rule.GoOn();
    };
    const auto until_heard = [&] {
        const auto left =
            std::chrono::milliseconds(serial::kWriteWaitTickMs) - (Clock::now() - heard_at);
        return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(
            std::chrono::ceil<std::chrono::milliseconds>(left).count(), 1,
            serial::kWriteWaitTickMs));
    };
    const auto outcome = [&rule](std::size_t count) {
        return app::WriteOutcome{static_cast<int>(count), rule.GaveUp()};
    };

    std::size_t written = 0;
    while (written < bytes.size() && !events_.LineLost()) {
        // Returns at once while the line has room; otherwise sleeps until it has, or
        // something comes, or the caller is due to hear of the write.
        const SessionEvents::Woken woken = events_.Pump(until_heard(), true);
        if (woken.writable) {
            const ssize_t count =
                base::WriteRetrying(port, bytes.data() + written, bytes.size() - written);
            if (count > 0) {
                written += static_cast<std::size_t>(count);
                progress_.Written(static_cast<std::size_t>(count));
            } else if (count < 0 && errno != EAGAIN) {
                events_.LoseLine(std::string("write failed: ") + std::strerror(errno));
            }
        }
        if (written < bytes.size() && !go_on(woken.came)) {
            return outcome(written);
        }
    }
    if (written < bytes.size()) {
        return outcome(written);
    }
    int queued = 0;
    if (!Drain(port, go_on, queued)) {
        const auto left = static_cast<std::size_t>(std::max(queued, 0));
        return outcome(written > left ? written - left : 0);
    }
    return outcome(written);
}

bool LineWriter::Drain(int fd, const std::function<bool(bool)>& go_on, int& queued) {
    // The write has completed when its bytes have left the machine: the 10 ms pauses
    // that follow the start byte and the header must be silence on the wire, not time
    // the bytes spend in the driver. tcdrain() alone would say so, but blocks for as
    // long as the queue takes (a 16384-byte write: 1.6 s at 115200 8N2) with no way
    // to take in received bytes, keys or signals meanwhile, and the terminal's input
    // queue holds only 4 KB: the remote's bytes could be lost. So while more than a
    // few milliseconds' worth is queued (TIOCOUTQ), the wait sleeps in the session's
    // poll() for about as long as the queue needs, taking in whatever comes and
    // hearing from the caller; tcdrain() then waits out the last bytes, including
    // those in the adapter's own buffer, which TIOCOUTQ does not count. On a pty the
    // queue always reads 0 (the bytes go straight to the other side) and tcdrain()
    // returns at once, so the drain costs two system calls a write: measured with
    // bench/serve_bench.py (1000 small entries over a pty), the block time beyond its
    // two pauses was 0.43-0.45 ms median with the drain and 0.45-0.58 ms without,
    // the same within the noise. A network connection has no tcdrain(): there the
    // queue is what the kernel has not yet sent, and the write is complete once it is
    // empty (LineQueue tells the two apart).
    for (;;) {
        queued = queue_.Unsent(fd);
        progress_.StillQueued(static_cast<std::size_t>(queued));
        if (queued <= queue_.WaitOutBytes()) {
            if (const std::string failure = queue_.WaitOut(fd); !failure.empty()) {
                events_.LoseLine(failure);
                return false;
            }
            queued = 0;
            progress_.StillQueued(0);
            return true;
        }
        const int line_ms = (queued - queue_.WaitOutBytes()) * 1000 / kLineBytesPerSecond;
        const SessionEvents::Woken woken =
            events_.Pump(std::clamp(line_ms, 1, serial::kWriteWaitTickMs), false);
        if (events_.LineLost() || !go_on(woken.came)) {
            return false;
        }
    }
}

void MonotonicPause::Sleep(int milliseconds) {
#if defined(TIMER_ABSTIME) && !defined(__APPLE__)
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        ++deadline.tv_sec;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
        // A signal woke the sleep early: sleep on towards the same deadline.
        continue;
    }
#else
    // macOS has no clock_nanosleep: relative sleeps towards a monotonic deadline.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (Clock::time_point now = Clock::now(); now < deadline; now = Clock::now()) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
        timespec wait{static_cast<time_t>(left.count() / 1000000000),
                      static_cast<long>(left.count() % 1000000000)};
        nanosleep(&wait, nullptr);
    }
#endif
}

void TerminalLog::EndWindow() {
    ended_ = true;
    tape_ended_ = !events_.LineLost();
}

}  // namespace kestrel::serve
