// The port session (APRICOM, the notification callback, CONNECT) over the real port
// layer and a real window, against tests/serial/pty_remote.py.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/port_session.h"
#include "app/serial_services_win32.h"
#include "serial/port.h"
#include "serial/pty_support_win32.h"
#include "serial/receive_ring.h"

namespace kestrel::app {
namespace {

using testing::Pattern;
using testing::PumpUntil;

// A window that installs bCommNotify and runs it on message 68, as the session
// window will, and notes how much each notification added to the ReceiveBuffer.
class SessionWindowStandIn : public CommNotifyWindow {
  public:
    explicit SessionWindowStandIn(const ReceiveBuffer& received) {
        window_.OnNotify([this, &received](serial::PortHandle port, int status) {
            const std::size_t before = received.size();
            if (bCommNotify) {
                bCommNotify(port, status);
            }
            added_.push_back(received.size() - before);
        });
    }
    serial::WindowHandle hWnd() const override { return window_.handle(); }
    void SetCommNotify(CommNotifyCallback callback) override { bCommNotify = std::move(callback); }
    // Bytes each notification appended, in order.
    const std::vector<std::size_t>& Added() const { return added_; }

  private:
    testing::NotifyWindow window_;
    CommNotifyCallback bCommNotify;
    std::vector<std::size_t> added_;
};

class RecordedMessages : public OperatorMessages {
  public:
    void PopMsg(std::string_view text) override { shown.emplace_back(text); }
    std::vector<std::string> shown;
};

// The real layer, except that the line-settings text is replaced by one the platform
// rejects.
class RejectedSettingsText : public SerialPortLayer {
  public:
    bool BuildCommDcb(std::string_view, std::string& settings) override {
        return SerialPortLayer::BuildCommDcb("115200,Q,9,7,garbage", settings);
    }
};

class PortSessionOnPty : public ::testing::Test {
  protected:
    serial::PortHandle Apricom(std::string_view port_name, PortLayer& ports) {
        return APRICOM(window, port_name, {ports, messages, received});
    }
    void TearDown() override {
        if (serial::IsOpen(port)) {
            serial::CLOSECOMM(port);
        }
        EXPECT_EQ(serial::OpenPortCount(), 0);
    }
    // Appends whatever the session has received.
    std::string TakeReceived() {
        std::string bytes;
        while (auto byte = received.TakeFront()) {
            bytes.push_back(*byte);
        }
        return bytes;
    }

    // Waits until the session has received count bytes; they are moved to got.
    bool Receive(std::size_t count, std::string& got,
                 std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        return PumpUntil(
            [&] {
                got += TakeReceived();
                return got.size() >= count;
            },
            limit);
    }

    // APRICOM on the port, then a clean line with the remote.
    void OpenSession(std::string_view port_name) {
        port = Apricom(port_name, layer);
        ASSERT_TRUE(serial::IsOpen(port));
        ASSERT_TRUE(messages.shown.empty());
        serial::ENABLECOMMNOTIFICATION(port, 0, 1, -1);
        ASSERT_TRUE(testing::Sync(port));
        serial::ENABLECOMMNOTIFICATION(port, window.hWnd(), 1, -1);
    }

    SerialPortLayer layer;
    ReceiveBuffer received;
    SessionWindowStandIn window{received};
    RecordedMessages messages;
    serial::PortHandle port = serial::kNoPort;
};

TEST_F(PortSessionOnPty, AnAbsentPortShowsTheOpeningMessageOnceAndGivesMinusOne) {
    port = Apricom("COM99", layer);
    EXPECT_EQ(port, serial::kNoPort);
    EXPECT_EQ(messages.shown,
              std::vector<std::string>{"Errore di apertura della porta di comunicazione (COM99)."});
}

TEST_F(PortSessionOnPty, RejectedLineSettingsShowTheSecondMessageAndCloseThePortAgain) {
    RejectedSettingsText rejecting;
    port = Apricom("COM1", rejecting);
    EXPECT_EQ(port, serial::kNoPort);
    EXPECT_EQ(messages.shown, std::vector<std::string>{
                                  "Errore di impostazione dei parametri di comunicazione (COM1)."});
    EXPECT_EQ(serial::OpenPortCount(), 0);
}

// The null device opens but is no serial line, so it refuses the line settings.
TEST_F(PortSessionOnPty, ADeviceThatRefusesTheSettingsShowsTheThirdMessageAndIsClosedAgain) {
    port = Apricom("NUL", layer);
    EXPECT_EQ(port, serial::kNoPort);
    EXPECT_EQ(messages.shown, std::vector<std::string>{
                                  "Errore di impostazione della porta di comunicazione (NUL)."});
    EXPECT_EQ(serial::OpenPortCount(), 0);
}

std::size_t Largest(const std::vector<std::size_t>& sizes) {
    return sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end());
}

// More than 1000 bytes, then silence: every byte reaches the ReceiveBuffer in order
// over several notifications, each adding at most 1000, and none waits for a
// further byte to arrive.
TEST_F(PortSessionOnPty, ABurstOfMoreThan1000BytesIsDeliveredWholeWithoutAFurtherByte) {
    OpenSession("COM1");
    std::string burst = Pattern(1800, 31);
    testing::Tell(port, "SEND 1800 31");
    std::string got;
    ASSERT_TRUE(Receive(burst.size(), got)) << "only " << got.size() << " bytes arrived";
    EXPECT_EQ(got, burst);
    EXPECT_LE(Largest(window.Added()), kReceiveChunkBytes);
    EXPECT_GE(window.Added().size(), 2u);
}

// Bytes gather while the port is disarmed (more than the ring holds: the rest waits
// in the driver). The next arrival after arming is announced, and then everything,
// well over 1000 bytes, comes out in order, 1000 at most per notification, with no
// further byte from the remote.
TEST_F(PortSessionOnPty, BytesGatheredWhileDisarmedAllComeOutAfterTheNextArrival) {
    OpenSession("COM1");
    serial::ENABLECOMMNOTIFICATION(port, 0, 1, -1);
    testing::Tell(port, "SEND 3000 33");
    // The ring fills meanwhile; nobody is told.
    ASSERT_TRUE(
        PumpUntil([&] { return testing::RingHolds(port) == serial::ReceiveRing::kCapacity; }));
    EXPECT_TRUE(window.Added().empty());
    serial::ENABLECOMMNOTIFICATION(port, window.hWnd(), 1, -1);
    testing::Tell(port, "SEND 1 34");
    const std::string expected = Pattern(3000, 33) + Pattern(1, 34);
    std::string got;
    ASSERT_TRUE(Receive(expected.size(), got)) << "only " << got.size() << " bytes arrived";
    EXPECT_EQ(got, expected);
    EXPECT_LE(Largest(window.Added()), kReceiveChunkBytes);
    EXPECT_GE(window.Added().size(), 4u);
}

// A megabyte as fast as the line takes it, with a "B" every few hundred bytes, while
// the window thread now and then does something else until the receive thread has
// to wait for it: not one byte is lost, however far the window thread falls behind.
TEST_F(PortSessionOnPty, AFloodOfAMegabyteLosesNoByte) {
    OpenSession("COM12");
    constexpr std::size_t kFlood = 1 << 20;
    const std::string flood = Pattern(kFlood, 41);
    ASSERT_GT(std::count(flood.begin(), flood.end(), 'B'), 1000);
    testing::Tell(port, "SEND " + std::to_string(kFlood) + " 41");
    std::string got;
    got.reserve(kFlood);
    int turns = 0;
    ASSERT_TRUE(PumpUntil(
        [&] {
            got += TakeReceived();
            if (got.size() >= kFlood) {
                return true;
            }
            if (++turns % 50 == 0) {
                // Busy elsewhere: the receive thread stops in its notification.
                EXPECT_TRUE(testing::WaitForSentMessage()) << "no notification came";
            }
            return false;
        },
        std::chrono::seconds(120)))
        << "only " << got.size() << " of " << kFlood << " bytes arrived";
    EXPECT_TRUE(got == flood) << "bytes lost or reordered";
    EXPECT_LE(Largest(window.Added()), kReceiveChunkBytes);
}

}  // namespace
}  // namespace kestrel::app
