#include "app/session_start.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace kestrel::app {
namespace {

// Records, in order, each thing the start of a session asks of the platform.
struct StartRecorder : PortSetting, OperatorMessages {
    std::string stored_port;
    std::string chosen = "C:\\TAPES\\GAME.TAP";
    std::optional<std::string> refusal;
    std::vector<std::string> timeline;

    std::string Read() override {
        timeline.push_back("read");
        return stored_port;
    }
    void Write(std::string_view port_name) override {
        timeline.push_back("write " + std::string(port_name));
    }
    void PopMsg(std::string_view text) override { timeline.push_back("box " + std::string(text)); }

    std::optional<std::string> Start(std::vector<const char*> arguments) {
        return StartSession(arguments, {[this] {
                                            timeline.push_back("dialog");
                                            return chosen;
                                        },
                                        [this](const std::string& path) {
                                            timeline.push_back("load " + path);
                                            return refusal;
                                        },
                                        *this, *this});
    }
};

TEST(SessionStart, OneArgumentIsTheTapeAndSkipsTheDialog) {
    StartRecorder start;
    start.stored_port = "COM3";
    EXPECT_EQ(start.Start({"kestrel.exe", "D:\\GIOCO.TAP"}), "COM3");
    EXPECT_EQ(start.timeline, (std::vector<std::string>{"read", "load D:\\GIOCO.TAP"}));

    // No argument, or more than one: the operator chooses.
    for (std::vector<const char*> arguments :
         {std::vector<const char*>{"kestrel.exe"}, {"kestrel.exe", "A.TAP", "B.TAP"}, {}}) {
        StartRecorder chooser;
        chooser.stored_port = "COM2";
        EXPECT_EQ(chooser.Start(arguments), "COM2");
        EXPECT_EQ(chooser.timeline,
                  (std::vector<std::string>{"dialog", "read", "load C:\\TAPES\\GAME.TAP"}));
    }
}

TEST(SessionStart, WithoutAPortSettingCom1IsUsedAndWrittenBackAfterTheTapeLoads) {
    StartRecorder start;
    start.stored_port = "  ";  // blank counts as unset
    EXPECT_EQ(start.Start({"kestrel.exe"}), "COM1");
    EXPECT_EQ(start.timeline, (std::vector<std::string>{"dialog", "read",
                                                        "load C:\\TAPES\\GAME.TAP", "write COM1"}));
}

TEST(SessionStart, ACancelledChoiceStillReadsTheSettingButStartsNothing) {
    StartRecorder start;
    start.chosen = "";
    EXPECT_EQ(start.Start({"kestrel.exe"}), std::nullopt);
    EXPECT_EQ(start.timeline, (std::vector<std::string>{"dialog", "read"}));
}

TEST(SessionStart, ARefusedTapeIsToldAndStartsNothing) {
    StartRecorder start;
    start.stored_port = "COM3";
    start.refusal = "nastro rifiutato";
    EXPECT_EQ(start.Start({"kestrel.exe", "X.TZX"}), std::nullopt);
    EXPECT_EQ(start.timeline,
              (std::vector<std::string>{"read", "load X.TZX", "box nastro rifiutato"}));

    // Without a port setting, COM1 is written back before the box: a file was chosen.
    StartRecorder unset;
    unset.refusal = "nastro rifiutato";
    EXPECT_EQ(unset.Start({"kestrel.exe", "X.TZX"}), std::nullopt);
    EXPECT_EQ(unset.timeline, (std::vector<std::string>{"read", "load X.TZX", "write COM1",
                                                        "box nastro rifiutato"}));
}

TEST(SessionStart, ATzxTapeLoadsAsItsTapTwinAndAnUnsupportedBlockIsRefused) {
    testing::TempDir dir;
    const std::string tap_block(
        "\x13\x00\x00\x03"
        "DEMO      "
        "\x02\x00\x00\x80\x00\x80\x55",
        21);
    auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(dir.File(name), std::ios::binary) << bytes;
        return dir.File(name);
    };
    const std::string header("ZXTape!\x1A\x01\x14", 10);
    const std::string standard = header + std::string("\x10\xE8\x03", 3) + tap_block;

    TapeImage image;
    EXPECT_EQ(LoadSessionTape(image, write("twin.tzx", standard)), std::nullopt);
    EXPECT_EQ(image.Remaining(), tap_block);

    // A turbo block (11h) at offset 10: 18 bytes of timings and a zero data length.
    const std::string turbo = header + '\x11' + std::string(18, '\0');
    const std::optional<std::string> refused = LoadSessionTape(image, write("turbo.tzx", turbo));
    ASSERT_TRUE(refused.has_value());
    EXPECT_NE(refused->find("11h"), std::string::npos) << *refused;
    EXPECT_NE(refused->find("offset 10"), std::string::npos) << *refused;
    EXPECT_EQ(image.Remaining(), tap_block) << "a refused tape leaves the image as it was";
}

TEST(SessionStart, TheWindowMayNotCloseWhileF4IsHeld) {
    struct Keys : KeyState {
        int held = 0;
        bool IsHeld(int virtual_key) override { return virtual_key == held; }
    } keys;
    EXPECT_TRUE(SessionWindowMayClose(keys));
    keys.held = kVkF4;
    EXPECT_FALSE(SessionWindowMayClose(keys));
    keys.held = kVkEscape;
    EXPECT_TRUE(SessionWindowMayClose(keys));
}

}  // namespace
}  // namespace kestrel::app
