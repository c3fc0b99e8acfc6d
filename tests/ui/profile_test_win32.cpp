// The settings-file pair against the platform's private profile files.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/temp_dir.h"
#include "support/working_directory.h"
#include "ui/profile.h"

namespace kestrel::ui {
namespace {

using namespace std::string_literals;

const std::string kSettings = ".\\KESTREL.INI";

class Profile : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(here_.entered()); }

    void WriteSettings(const std::string& text) {
        std::ofstream(dir_.File("KESTREL.INI"), std::ios::binary) << text;
    }
    std::string SettingsOnDisk() const {
        std::ifstream in(dir_.File("KESTREL.INI"), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string Porta(std::string_view fallback = "") {
        return GETPVPROFSTRING("Impostazioni", "Porta", fallback, kSettings);
    }

    testing::TempDir dir_;
    testing::WorkingDirectory here_{dir_.path()};
};

TEST_F(Profile, ThePortIsReadFromTheSettingsFileInTheCurrentDirectory) {
    WriteSettings("[Impostazioni]\r\nPorta=COM3\r\n");
    EXPECT_EQ(Porta(), "COM3");
    WriteSettings("[Impostazioni]\r\nPorta=\"COM2\"\r\n");
    EXPECT_EQ(Porta(), "COM2");
}

TEST_F(Profile, AMissingFileSectionOrKeyGivesTheFallback) {
    EXPECT_EQ(Porta(), "");
    EXPECT_EQ(Porta("COM1"), "COM1");
    WriteSettings("[Altro]\r\nPorta=COM4\r\n");
    EXPECT_EQ(Porta("COM1"), "COM1");
    WriteSettings("[Impostazioni]\r\nVelocita=9600\r\n");
    EXPECT_EQ(Porta(), "");
}

TEST_F(Profile, AnEmptyStoredValueReadsAsEmptyWhateverTheFallback) {
    WriteSettings("[Impostazioni]\r\nPorta=\r\n");
    EXPECT_EQ(Porta("COM1"), "");
}

TEST_F(Profile, ALongValueIsCutToTheBuffer) {
    WriteSettings("[Impostazioni]\r\nPorta=" + std::string(5000, 'p') + "\r\n");
    EXPECT_EQ(Porta(), std::string(4094, 'p'));
}

TEST_F(Profile, WithoutAKeyTheSectionsKeysAreListed) {
    WriteSettings("[Impostazioni]\r\nPorta=COM3\r\nVelocita=9600\r\n");
    EXPECT_EQ(GETPVPROFSTRING("Impostazioni", std::nullopt, "", kSettings), "Porta\0Velocita\0"s);
    EXPECT_EQ(GETPVPROFSTRING(std::nullopt, std::nullopt, "", kSettings), "Impostazioni\0"s);
}

TEST_F(Profile, WritingCreatesTheFileAndTheSectionThenReplacesTheValue) {
    EXPECT_TRUE(WRITEPPROSTRING("Impostazioni", "Porta", "COM1", kSettings));
    EXPECT_EQ(Porta(), "COM1");
    EXPECT_NE(SettingsOnDisk().find("[Impostazioni]"), std::string::npos);
    EXPECT_TRUE(WRITEPPROSTRING("Impostazioni", "Porta", "COM7", kSettings));
    EXPECT_EQ(Porta(), "COM7");
}

TEST_F(Profile, WritingNoValueDeletesTheKeyAndNoKeyTheSection) {
    WriteSettings("[Impostazioni]\r\nPorta=COM3\r\nVelocita=9600\r\n[Altro]\r\nx=1\r\n");
    EXPECT_TRUE(WRITEPPROSTRING("Impostazioni", "Porta", std::nullopt, kSettings));
    EXPECT_EQ(Porta("none"), "none");
    EXPECT_EQ(GETPVPROFSTRING("Impostazioni", "Velocita", "", kSettings), "9600");

    EXPECT_TRUE(WRITEPPROSTRING("Impostazioni", std::nullopt, std::nullopt, kSettings));
    EXPECT_EQ(GETPVPROFSTRING("Impostazioni", "Velocita", "gone", kSettings), "gone");
    EXPECT_EQ(GETPVPROFSTRING("Altro", "x", "", kSettings), "1");
}

TEST_F(Profile, AnAnsiValueKeepsItsBytes) {
    EXPECT_TRUE(WRITEPPROSTRING("Impostazioni", "Nome", "citt\xE0", kSettings));
    EXPECT_EQ(GETPVPROFSTRING("Impostazioni", "Nome", "", kSettings), "citt\xE0");
}

TEST_F(Profile, WritingWhereNoFileCanBeMadeFails) {
    // (A read-only file would do too on Windows; under Wine as root it stays writable.)
    EXPECT_FALSE(WRITEPPROSTRING("Impostazioni", "Porta", "COM1", ".\\manca\\KESTREL.INI"));
    EXPECT_EQ(GETPVPROFSTRING("Impostazioni", "Porta", "", ".\\manca\\KESTREL.INI"), "");
}

}  // namespace
}  // namespace kestrel::ui
