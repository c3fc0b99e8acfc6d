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

namespace kestrel::app {
namespace {

using testing::Pattern;
using testing::PumpUntil;

// A window that installs bCommNotify and runs it on message 68, as the session
// window will.
class SessionWindowStandIn : public CommNotifyWindow {
  public:
    SessionWindowStandIn() {
        window_.OnNotify([this](serial::PortHandle port, int status) {
            if (bCommNotify) {
                bCommNotify(port, status);
            }
        });
    }
    serial::WindowHandle hWnd() const override { return window_.handle(); }
    void SetCommNotify(CommNotifyCallback callback) override { bCommNotify = std::move(callback); }
    std::size_t Notifications() const { return window_.calls().size(); }

  private:
    testing::NotifyWindow window_;
    CommNotifyCallback bCommNotify;
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

    SerialPortLayer layer;
    SessionWindowStandIn window;
    RecordedMessages messages;
    ReceiveBuffer received;
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

// More than 1000 bytes ending in "B", then silence: every byte reaches the
// ReceiveBuffer in order over several notifications, each adding at most 1000.
TEST_F(PortSessionOnPty, ABurstOfMoreThan1000BytesIsDeliveredWholeWithoutAFurtherByte) {
    port = Apricom("COM1", layer);
    ASSERT_TRUE(serial::IsOpen(port));
    ASSERT_TRUE(messages.shown.empty());
    serial::ENABLECOMMNOTIFICATION(port, 0, 1, -1);
    ASSERT_TRUE(testing::Sync(port));
    serial::ENABLECOMMNOTIFICATION(port, window.hWnd(), 1, -1);

    const std::string burst = Pattern(1800, 31);
    testing::Tell(port, "SEND 1800 31");
    std::string got;
    std::size_t largest = 0;
    ASSERT_TRUE(PumpUntil([&] {
        largest = std::max(largest, received.size());
        got += TakeReceived();
        return got.size() >= burst.size();
    })) << "only "
        << got.size() << " of " << burst.size() << " bytes arrived";
    EXPECT_EQ(got, burst);
    EXPECT_LE(largest, kReceiveChunkBytes);
    EXPECT_GE(window.Notifications(), 2u);
}

// A megabyte as fast as the line takes it, with a "B" every few hundred bytes: not
// one byte is lost, however far the window thread falls behind.
TEST_F(PortSessionOnPty, AFloodOfAMegabyteLosesNoByte) {
    port = Apricom("COM12", layer);
    ASSERT_TRUE(serial::IsOpen(port));
    serial::ENABLECOMMNOTIFICATION(port, 0, 1, -1);
    ASSERT_TRUE(testing::Sync(port));
    serial::ENABLECOMMNOTIFICATION(port, window.hWnd(), 1, -1);

    constexpr std::size_t kFlood = 1 << 20;
    const std::string flood = Pattern(kFlood, 41);
    ASSERT_GT(std::count(flood.begin(), flood.end(), 'B'), 1000);
    testing::Tell(port, "SEND " + std::to_string(kFlood) + " 41");
    std::string got;
    got.reserve(kFlood);
    int slow_turns = 0;
    ASSERT_TRUE(PumpUntil(
        [&] {
            got += TakeReceived();
            if (++slow_turns % 50 == 0) {
                Sleep(20);  // the window thread now and then busy elsewhere
            }
            return got.size() >= kFlood;
        },
        std::chrono::seconds(120)))
        << "only " << got.size() << " of " << kFlood << " bytes arrived";
    EXPECT_EQ(got.size(), kFlood);
    EXPECT_TRUE(got == flood) << "bytes lost or reordered";
}

}  // namespace
}  // namespace kestrel::app
