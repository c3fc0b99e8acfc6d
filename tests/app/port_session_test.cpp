#include "app/port_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors/source_frame.h"

namespace kestrel::app {
namespace {

constexpr serial::PortHandle kPort = 3;
constexpr serial::WindowHandle kWindow = 0x5A10;

// Everything the session asks of the port layer, the window and the pop-ups, on one
// timeline, e.g. "open \\.\COM1 16384 16384", "arm 3 window 1 -1", "disarm 3",
// "read 3 1000", "close 3", "install callback", "message ...".
struct Recorder {
    std::vector<std::string> timeline;
};

class FakePorts : public PortLayer {
  public:
    explicit FakePorts(Recorder& recorder) : log_(recorder.timeline) {}

    serial::PortHandle open_result = kPort;
    bool build_result = true;
    bool set_result = true;
    std::string waiting;  // bytes the port layer holds, served by ReadComm
    std::string settings_applied;
    // The error report's call chain at each open and read, innermost first.
    std::vector<std::string> chains;

    serial::PortHandle OpenComm(std::string_view device, int in, int out) override {
        NoteChain();
        log_.push_back("open " + std::string(device) + " " + std::to_string(in) + " " +
                       std::to_string(out));
        return open_result;
    }
    bool BuildCommDcb(std::string_view text, std::string& settings) override {
        log_.push_back("build " + std::string(text));
        settings = build_result ? "DCB:" + std::string(text) : "";
        return build_result;
    }
    bool SetCommState(serial::PortHandle port, std::string_view settings) override {
        log_.push_back("set " + std::to_string(port));
        settings_applied = settings;
        return set_result;
    }
    int ReadComm(serial::PortHandle port, std::string& buffer) override {
        NoteChain();
        log_.push_back("read " + std::to_string(port) + " " + std::to_string(buffer.size()));
        const std::size_t count = std::min(buffer.size(), waiting.size());
        buffer.replace(0, count, waiting, 0, count);
        waiting.erase(0, count);
        return static_cast<int>(count);
    }
    bool EnableCommNotification(serial::PortHandle port, serial::WindowHandle window, int rx,
                                int tx) override {
        if (window == 0) {
            log_.push_back("disarm " + std::to_string(port));
        } else {
            log_.push_back("arm " + std::to_string(port) +
                           (window == kWindow ? " window " : " ? ") + std::to_string(rx) + " " +
                           std::to_string(tx));
        }
        return true;
    }
    bool CloseComm(serial::PortHandle port) override {
        log_.push_back("close " + std::to_string(port));
        return true;
    }

  private:
    void NoteChain() {
        std::string chain;
        for (int level = 0; !errors::InnermostRoutine(level).name.empty(); ++level) {
            chain += (level == 0 ? "" : " ") + errors::InnermostRoutine(level).name;
        }
        chains.push_back(chain);
    }

    std::vector<std::string>& log_;
};

class FakeMessages : public OperatorMessages {
  public:
    explicit FakeMessages(Recorder& recorder) : log_(recorder.timeline) {}
    void PopMsg(std::string_view text) override { log_.push_back("message " + std::string(text)); }

  private:
    std::vector<std::string>& log_;
};

class FakeWindow : public CommNotifyWindow {
  public:
    explicit FakeWindow(Recorder& recorder) : log_(recorder.timeline) {}
    serial::WindowHandle hWnd() const override { return kWindow; }
    void SetCommNotify(CommNotifyCallback callback) override {
        log_.push_back("install callback");
        bCommNotify = std::move(callback);
    }
    CommNotifyCallback bCommNotify;

  private:
    std::vector<std::string>& log_;
};

class PortSessionTest : public ::testing::Test {
  protected:
    serial::PortHandle Open(std::string_view port_name) {
        return APRICOM(window, port_name, {ports, messages, received});
    }
    std::vector<std::string> Timeline() const { return recorder.timeline; }

    Recorder recorder;
    FakePorts ports{recorder};
    FakeMessages messages{recorder};
    FakeWindow window{recorder};
    ReceiveBuffer received;
};

std::string Drain(ReceiveBuffer& buffer) {
    std::string bytes;
    while (auto byte = buffer.TakeFront()) {
        bytes.push_back(*byte);
    }
    return bytes;
}

TEST_F(PortSessionTest, OpensTheNamedDeviceConfiguresItAndArmsOnlyOnceTheCallbackIsInstalled) {
    EXPECT_EQ(Open("COM12"), kPort);
    EXPECT_EQ(Timeline(), (std::vector<std::string>{
                              "open \\\\.\\COM12 16384 16384",
                              "build 115200,N,8,2",
                              "set 3",
                              "install callback",
                              "arm 3 window 1 -1",
                          }));
    EXPECT_EQ(ports.settings_applied, "DCB:115200,N,8,2");
}

struct FailureCase {
    const char* step;
    bool open_fails, build_fails, set_fails;
    std::vector<std::string> expected;
};

class PortSessionFailure : public PortSessionTest,
                           public ::testing::WithParamInterface<FailureCase> {};

TEST_P(PortSessionFailure, ShowsOneMessageNamingThePortClosesWhatItOpenedAndGivesMinusOne) {
    const FailureCase& failure = GetParam();
    if (failure.open_fails) {
        ports.open_result = -1;
    }
    ports.build_result = !failure.build_fails;
    ports.set_result = !failure.set_fails;

    EXPECT_EQ(Open("COM7"), serial::kNoPort);
    EXPECT_EQ(Timeline(), failure.expected);
    EXPECT_FALSE(window.bCommNotify);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, PortSessionFailure,
    ::testing::Values(
        FailureCase{"open",
                    true,
                    false,
                    false,
                    {"open \\\\.\\COM7 16384 16384",
                     "message Errore di apertura della porta di comunicazione (COM7)."}},
        FailureCase{
            "build",
            false,
            true,
            false,
            {"open \\\\.\\COM7 16384 16384", "build 115200,N,8,2",
             "message Errore di impostazione dei parametri di comunicazione (COM7).", "close 3"}},
        FailureCase{
            "set",
            false,
            false,
            true,
            {"open \\\\.\\COM7 16384 16384", "build 115200,N,8,2", "set 3",
             "message Errore di impostazione della porta di comunicazione (COM7).", "close 3"}}),
    [](const ::testing::TestParamInfo<FailureCase>& param_info) { return param_info.param.step; });

TEST_F(PortSessionTest, AnyNegativeHandleFromTheLayerCountsAsAFailedOpen) {
    ports.open_result = -7;
    EXPECT_EQ(Open("COM1"), serial::kNoPort);
    EXPECT_EQ(Timeline().size(), 2u);
    EXPECT_EQ(Timeline().back(), "message " + OpenFailedMessage("COM1"));
}

TEST_F(PortSessionTest, EachNotificationDisarmsFetchesAtMost1000BytesInOrderAndRearms) {
    ASSERT_EQ(Open("COM1"), kPort);
    ASSERT_TRUE(window.bCommNotify);
    std::string sent;
    for (int i = 0; i < 2500; ++i) {
        sent.push_back(static_cast<char>(i % 253));
    }
    ports.waiting = sent;
    recorder.timeline.clear();

    window.bCommNotify(kPort, 1);
    EXPECT_EQ(Timeline(),
              (std::vector<std::string>{"disarm 3", "read 3 1000", "arm 3 window 1 -1"}));
    EXPECT_EQ(received.size(), 1000u);

    window.bCommNotify(kPort, 1);
    window.bCommNotify(kPort, 1);
    EXPECT_EQ(Drain(received), sent);

    // A notification that finds nothing appends nothing.
    window.bCommNotify(kPort, 1);
    EXPECT_TRUE(received.empty());

    // The routines are named in the error report's call chain.
    EXPECT_EQ(ports.chains.front(), "APRICOM");
    EXPECT_EQ(ports.chains.back(), "RECEIVESTR CONNECT");
}

TEST_F(PortSessionTest, ReceiveStrGivesExactlyTheBytesRead) {
    ports.waiting = std::string("B\0x", 3);
    EXPECT_EQ(RECEIVESTR(ports, kPort), std::string("B\0x", 3));
    EXPECT_EQ(RECEIVESTR(ports, kPort), "");
}

TEST_F(PortSessionTest, BytesFetchedWhileOthersWaitAreAppendedAfterThem) {
    received.Append("xy");
    ports.waiting = "B";
    CONNECT(ports, kPort, received);
    EXPECT_EQ(Drain(received), "xyB");
}

}  // namespace
}  // namespace kestrel::app
