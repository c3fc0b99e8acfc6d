// The serial port layer on a real pseudo-terminal under Wine; the remote end is
// played by tests/serial/pty_remote.py.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>

#include "serial/key_state.h"
#include "serial/port.h"
#include "serial/pty_support_win32.h"
#include "serial/receive_ring.h"

namespace kestrel::serial {
namespace {

using namespace std::chrono_literals;
using testing::NotifyWindow;
using testing::Pattern;
using testing::PumpUntil;
using testing::ReadFor;
using testing::RingHolds;
using testing::Tell;

// Closes the port at the end of a test, whatever happened.
class OpenPort {
  public:
    explicit OpenPort(std::string_view name) : port_(testing::OpenSynced(name)) {}
    ~OpenPort() { CLOSECOMM(port_); }
    OpenPort(const OpenPort&) = delete;
    OpenPort& operator=(const OpenPort&) = delete;
    PortHandle get() const { return port_; }

  private:
    PortHandle port_;
};

TEST(OpenComm, AnAbsentPortGivesMinusOneAndLeavesNothingRunning) {
    const int threads = testing::ThreadCount();
    EXPECT_EQ(OPENCOMM("\\\\.\\COM99", 16384, 16384), kNoPort);
    EXPECT_EQ(OPENCOMM("\\\\.\\COM99"), kNoPort);
    EXPECT_EQ(OpenPortCount(), 0);
    EXPECT_EQ(testing::ThreadCount(), threads);
}

TEST(OpenComm, EachOpenPortRunsOneThreadThatCloseCommEnds) {
    const int threads = testing::ThreadCount();
    const PortHandle port = OPENCOMM("\\\\.\\COM1");
    ASSERT_TRUE(IsOpen(port));
    EXPECT_EQ(OpenPortCount(), 1);
    EXPECT_EQ(testing::ThreadCount(), threads + 1);
    CLOSECOMM(port);
    EXPECT_EQ(OpenPortCount(), 0);
    EXPECT_EQ(testing::ThreadCount(), threads);
}

TEST(OpenComm, APortNumberedAbove9IsReachedThroughTheDevicePath) {
    OpenPort port("COM12");
    ASSERT_TRUE(IsOpen(port.get()));
    Tell(port.get(), "SEND 20 12");
    EXPECT_EQ(ReadFor(port.get(), 20), Pattern(20, 12));
}

TEST(LineSettings, TheSessionTextGivesAComplete28ByteRecordThePortAccepts) {
    std::string settings = "old";
    ASSERT_TRUE(BUILDCOMMDCB("115200,N,8,2", settings));
    ASSERT_EQ(settings.size(), 28u);
    DCB dcb;
    std::memcpy(&dcb, settings.data(), sizeof dcb);
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    // Fields the text does not name have values real drivers accept.
    EXPECT_TRUE(dcb.fBinary);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_FALSE(dcb.fOutX || dcb.fInX || dcb.fOutxCtsFlow || dcb.fOutxDsrFlow);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_NE(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    EXPECT_GT(dcb.XonLim, 0);
    EXPECT_GT(dcb.XoffLim, 0);

    OpenPort port("COM1");
    ASSERT_TRUE(IsOpen(port.get()));
    EXPECT_TRUE(SETCOMMSTATE(port.get(), settings));
    // The line still carries traffic after the change.
    Tell(port.get(), "SEND 3 1");
    EXPECT_EQ(ReadFor(port.get(), 3), Pattern(3, 1));
}

TEST(LineSettings, TextThePlatformCannotParseGivesFalseAndEmptySettings) {
    for (const char* text : {"fast please", "115200,Q,8,2", "115200,N,8,2,x,y"}) {
        std::string settings = "previous";
        EXPECT_FALSE(BUILDCOMMDCB(text, settings)) << text;
        EXPECT_EQ(settings, "") << text;
    }
}

TEST(LineSettings, AMalformedRecordIsRefusedWithoutReachingTheDevice) {
    OpenPort port("COM1");
    ASSERT_TRUE(IsOpen(port.get()));
    std::string settings;
    ASSERT_TRUE(BUILDCOMMDCB("115200,N,8,2", settings));
    EXPECT_FALSE(SETCOMMSTATE(port.get(), settings.substr(0, 27)));
    EXPECT_FALSE(SETCOMMSTATE(port.get(), ""));
    EXPECT_FALSE(SETCOMMSTATE(port.get(), settings + "x"));
}

TEST(ReadComm, EmptyPartialAndAcrossTheEndOfTheRing) {
    OpenPort port("COM1");
    ASSERT_TRUE(IsOpen(port.get()));
    std::string buffer = "unchanged";
    EXPECT_EQ(READCOMM(port.get(), buffer), 0);
    EXPECT_EQ(buffer, "unchanged");

    // A 3-byte buffer never gets more than three; the five come out whole over the
    // reads, and positions past each count keep what they held.
    Tell(port.get(), "SEND 5 2");
    std::string got;
    ASSERT_TRUE(PumpUntil([&] {
        std::string three = "...";
        const int count = READCOMM(port.get(), three);
        EXPECT_LE(count, 3);
        EXPECT_EQ(three.substr(static_cast<std::size_t>(count)),
                  std::string(3 - static_cast<std::size_t>(count), '.'));
        got += three.substr(0, static_cast<std::size_t>(count));
        return got.size() >= 5;
    }));
    EXPECT_EQ(got, Pattern(5, 2));

    // 2000 bytes take the indices near the end of the ring; the next 100 cross it.
    Tell(port.get(), "SEND 2000 3");
    EXPECT_EQ(ReadFor(port.get(), 2000), Pattern(2000, 3));
    Tell(port.get(), "SEND 100 4");
    EXPECT_EQ(ReadFor(port.get(), 100), Pattern(100, 4));
}

TEST(WriteComm, WritesTheWholeLengthEvenBeyond32767Bytes) {
    OpenPort port("COM1");
    ASSERT_TRUE(IsOpen(port.get()));
    EXPECT_EQ(WRITECOMM(port.get(), ""), 0);
    for (std::size_t size : {std::size_t{16384}, std::size_t{40000}}) {
        const std::string data = Pattern(size, 9);
        Tell(port.get(), "SINK " + std::to_string(size));
        EXPECT_EQ(WRITECOMM(port.get(), data), static_cast<int>(size));
        char expected[64];
        std::snprintf(expected, sizeof expected, "GOT %zu %08x\n", size,
                      static_cast<unsigned>(testing::Crc32(data)));
        EXPECT_EQ(ReadFor(port.get(), std::strlen(expected)), expected);
    }
}

TEST(WriteComm, AQuitMessageLeftInTheQueueDoesNotMakeAStalledWriteSpin) {
    OpenPort port("COM1");
    ASSERT_TRUE(IsOpen(port.get()));
    Tell(port.get(), "DEAF 3000");
    ASSERT_EQ(ReadFor(port.get(), 5), "DEAF\n");
    PostQuitMessage(0);                       // never taken by what runs while the write waits
    const std::string lines(1u << 20, '\n');  // more than the line holds; empty commands
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    int asked = 0;
    const int written = WRITECOMM(port.get(), lines, [&] {
        ++asked;
        return Clock::now() - start < 500ms;
    });
    const auto lasted = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    MSG quit{};
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_LT(written, static_cast<int>(lines.size()));
    // Asked about once a tick, not at every one of thousands of wake-ups.
    EXPECT_GE(asked, 2);
    EXPECT_LE(asked, lasted.count() / kWriteWaitTickMs + 3) << lasted.count() << " ms";
}

TEST(Notification, AnArmedPortCallsTheWindowOnItsPumpingThreadWithHandleAndOne) {
    OpenPort port("COM1");
    ASSERT_TRUE(IsOpen(port.get()));
    NotifyWindow window;
    std::string seen;
    window.OnNotify([&](PortHandle notifying, int) {
        std::string buffer(1000, ' ');
        const auto count = static_cast<std::size_t>(READCOMM(notifying, buffer));
        seen.append(buffer, 0, count);
        EXPECT_EQ(buffer.substr(count), std::string(1000 - count, ' '));
    });
    ENABLECOMMNOTIFICATION(port.get(), window.handle(), 1, -1);  // the notifications show it

    Tell(port.get(), "SEND 5 6");
    ASSERT_TRUE(PumpUntil([&] { return seen.size() >= 5; }));
    EXPECT_EQ(seen, Pattern(5, 6));
    ASSERT_FALSE(window.calls().empty());
    for (const auto& call : window.calls()) {
        EXPECT_EQ(call.port, static_cast<WPARAM>(port.get()));
        EXPECT_EQ(call.status, 1);
        EXPECT_EQ(call.thread, GetCurrentThreadId());
    }
}

TEST(Notification, OtherThresholdsBehaveLikeOneAndMinusOne) {
    OpenPort port("COM1");
    ASSERT_TRUE(IsOpen(port.get()));
    NotifyWindow window;
    std::string seen;
    window.OnNotify([&](PortHandle notifying, int) {
        std::string buffer(1000, ' ');
        seen.append(buffer, 0, static_cast<std::size_t>(READCOMM(notifying, buffer)));
    });
    ENABLECOMMNOTIFICATION(port.get(), window.handle(), 5, 100);
    Tell(port.get(), "SEND 1 7");
    EXPECT_TRUE(PumpUntil([&] { return seen == Pattern(1, 7); }));
}

TEST(Notification, ADisarmedPortCallsNobodyButKeepsTheBytes) {
    OpenPort port("COM1");
    ASSERT_TRUE(IsOpen(port.get()));
    NotifyWindow window;
    ENABLECOMMNOTIFICATION(port.get(), window.handle(), 1, -1);
    ENABLECOMMNOTIFICATION(port.get(), 0, 1, -1);
    Tell(port.get(), "SEND 10 8");
    ASSERT_TRUE(PumpUntil([&] { return RingHolds(port.get()) == 10; }));
    // A later byte is read only once the pass that stored the ten has ended, with the
    // notification it would have sent handled while pumping.
    Tell(port.get(), "SEND 1 9");
    ASSERT_TRUE(PumpUntil([&] { return RingHolds(port.get()) == 11; }));
    EXPECT_TRUE(window.calls().empty());
    EXPECT_EQ(ReadFor(port.get(), 11), Pattern(10, 8) + Pattern(1, 9));
}

TEST(Notification, AWindowThatReadsNothingIsNotCalledAgainUntilMoreArrives) {
    OpenPort port("COM1");
    ASSERT_TRUE(IsOpen(port.get()));
    NotifyWindow window;  // ignores message 68
    ENABLECOMMNOTIFICATION(port.get(), window.handle(), 1, -1);
    Tell(port.get(), "SEND 10 10");
    ASSERT_TRUE(PumpUntil([&] { return !window.calls().empty(); }));
    // One more byte: its own call comes only after the thread has read it, so any
    // call repeated for the first ten comes before it.
    Tell(port.get(), "SEND 1 11");
    ASSERT_TRUE(
        PumpUntil([&] { return RingHolds(port.get()) == 11 && window.calls().size() >= 2; }));
    EXPECT_EQ(window.calls().size(), 2u);
    EXPECT_EQ(ReadFor(port.get(), 11), Pattern(10, 10) + Pattern(1, 11));
}

// More than the ring holds, to a window that takes nothing: a few calls, no stream of
// them, and once someone reads, every byte is there in order.
TEST(Notification, AFullRingThatNobodyReadsIsNotAnnouncedOverAndOver) {
    OpenPort port("COM1");
    ASSERT_TRUE(IsOpen(port.get()));
    NotifyWindow window;  // takes nothing
    int full_calls = 0;   // calls that found the ring full
    window.OnNotify([&](PortHandle notifying, int) {
        full_calls += RingHolds(notifying) == ReceiveRing::kCapacity ? 1 : 0;
    });
    ENABLECOMMNOTIFICATION(port.get(), window.handle(), 1, -1);
    Tell(port.get(), "SEND 3000 13");
    ASSERT_TRUE(PumpUntil([&] { return full_calls == 1; }));
    const std::size_t calls_when_full = window.calls().size();
    EXPECT_GE(calls_when_full, 1u);
    EXPECT_LE(calls_when_full, 6u);

    // Arming again wakes the thread, which must not announce the same full ring to
    // the window that left it unread. One byte taken makes room for one more from
    // the driver: that arrival is announced, once, and after the wake-up.
    ENABLECOMMNOTIFICATION(port.get(), window.handle(), 1, -1);
    std::string first(1, ' ');
    ASSERT_EQ(READCOMM(port.get(), first), 1);
    ASSERT_TRUE(PumpUntil([&] { return full_calls == 2; }));
    EXPECT_EQ(window.calls().size(), calls_when_full + 1);

    // Another window armed now is told of the full ring the first one left unread.
    NotifyWindow other;
    ENABLECOMMNOTIFICATION(port.get(), other.handle(), 1, -1);
    EXPECT_TRUE(PumpUntil([&] { return !other.calls().empty(); }));
    EXPECT_EQ(first + ReadFor(port.get(), 2999), Pattern(3000, 13));
}

TEST(Notification, NothingArrivesAfterCloseComm) {
    NotifyWindow window;
    const PortHandle port = testing::OpenSynced("COM1");
    ASSERT_TRUE(IsOpen(port));
    ENABLECOMMNOTIFICATION(port, window.handle(), 1, -1);
    Tell(port, "SEND 10 11 300");
    CLOSECOMM(port);
    EXPECT_EQ(OpenPortCount(), 0);
    // The bytes reach the line after the close: the port opened again finds them.
    EXPECT_EQ(testing::ReadAfterReopening("COM1", Pattern(10, 11)), Pattern(10, 11));
    EXPECT_TRUE(window.calls().empty());
}

// The receive thread is parked in its send to this thread (which is not pumping)
// when CLOSECOMM runs here: the close must release it rather than wait for ever.
TEST(Notification, CloseCommReleasesAThreadParkedInItsSendToTheClosingThread) {
    NotifyWindow window;
    const PortHandle port = testing::OpenSynced("COM1");
    ASSERT_TRUE(IsOpen(port));
    int calls = 0;
    window.OnNotify([&](PortHandle, int) { ++calls; });
    ENABLECOMMNOTIFICATION(port, window.handle(), 1, -1);
    Tell(port, "SEND 50 12");
    ASSERT_TRUE(testing::WaitForSentMessage());  // not pumping: the send waits
    CLOSECOMM(port);
    EXPECT_EQ(OpenPortCount(), 0);
    EXPECT_LE(calls, 1);
    const int calls_at_close = calls;
    testing::PumpWaiting();
    EXPECT_EQ(calls, calls_at_close);
}

// A callback that closes its own port: the receive thread is parked in the very send
// being handled, and the close must not wait for it for ever.
TEST(Notification, ACallbackMayCloseItsOwnPort) {
    NotifyWindow window;
    PortHandle port = testing::OpenSynced("COM1");
    ASSERT_TRUE(IsOpen(port));
    window.OnNotify([&](PortHandle notifying, int) {
        EXPECT_EQ(notifying, port);
        CLOSECOMM(notifying);
        EXPECT_EQ(OpenPortCount(), 0);
        port = kNoPort;
    });
    ENABLECOMMNOTIFICATION(port, window.handle(), 1, -1);
    Tell(port, "SEND 30 14");
    Tell(port, "SEND 30 15 200");
    EXPECT_TRUE(PumpUntil([&] { return port == kNoPort; }));
    // The second bytes reach the line after the close: the port opened again finds
    // them behind whatever of the first the closed port had left in the driver.
    EXPECT_TRUE(testing::ReadAfterReopening("COM1", Pattern(30, 15)).ends_with(Pattern(30, 15)));
    EXPECT_EQ(window.calls().size(), 1u);
    EXPECT_EQ(OpenPortCount(), 0);
}

TEST(Notification, TwoPortsOnOneWindowEachCarryTheirOwnHandle) {
    OpenPort first("COM1");
    OpenPort second("COM2");
    ASSERT_TRUE(IsOpen(first.get()) && IsOpen(second.get()));
    ASSERT_NE(first.get(), second.get());
    NotifyWindow window;
    std::map<PortHandle, std::string> seen;
    window.OnNotify([&](PortHandle notifying, int) {
        std::string buffer(1000, ' ');
        seen[notifying].append(buffer, 0, static_cast<std::size_t>(READCOMM(notifying, buffer)));
    });
    ENABLECOMMNOTIFICATION(first.get(), window.handle(), 1, -1);
    ENABLECOMMNOTIFICATION(second.get(), window.handle(), 1, -1);
    Tell(first.get(), "SEND 1500 21");
    Tell(second.get(), "SEND 700 22");
    EXPECT_TRUE(PumpUntil(
        [&] { return seen[first.get()].size() >= 1500 && seen[second.get()].size() >= 700; }));
    EXPECT_EQ(seen[first.get()], Pattern(1500, 21));
    EXPECT_EQ(seen[second.get()], Pattern(700, 22));
    EXPECT_EQ(seen.size(), 2u);
}

// An unplugged adapter: the remote closes its end. The thread must not notify, a
// write must come back, and the port must still close. (What a hung-up line costs in
// processor time is measured by bench/serial_port_bench.py.)
TEST(FailingDevice, AHungUpLineNotifiesNobodyAndWritesReturn) {
    NotifyWindow window;
    const PortHandle port = testing::OpenSynced("COM1");
    ASSERT_TRUE(IsOpen(port));
    ENABLECOMMNOTIFICATION(port, window.handle(), 1, -1);
    Tell(port, "HANGUP");
    // Once a write comes back short the line is down; every notification sent since
    // is handled while pumping here or, at the latest, by the close.
    const std::string text = "after the hang-up";
    EXPECT_TRUE(PumpUntil([&] { return WRITECOMM(port, text) < static_cast<int>(text.size()); }));
    CLOSECOMM(port);
    EXPECT_TRUE(window.calls().empty());
    EXPECT_EQ(OpenPortCount(), 0);
}

TEST(KeyState, NoKeyCodeMeansNoKeyAndNegativePausesDoNotHang) {
    EXPECT_FALSE(GETASYNCKEYSTATE());
    EXPECT_FALSE(GETASYNCKEY(0));
    const auto start = std::chrono::steady_clock::now();
    SLEEP(-1);
    SLEEP(0);
    SLEEP();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    const auto before = std::chrono::steady_clock::now();
    SLEEP(10);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 9ms);
}

}  // namespace
}  // namespace kestrel::serial
