// CURDRIVE and CURDIR against the process's real current directory, and the code
// pages that the message texts rely on.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/oem_text_win32.h"
#include "support/temp_dir.h"
#include "support/working_directory.h"
#include "ui/current_dir.h"

namespace kestrel::ui {
namespace {

TEST(CurrentDirectoryOnThePlatform, TheRootOfADriveIsTheLetterAndAnEmptyDirectory) {
    testing::WorkingDirectory root("C:\\");
    ASSERT_TRUE(root.entered());
    EXPECT_EQ(CURDRIVE(), "C");
    EXPECT_EQ(CURDIR(), "");
    EXPECT_EQ(InitialDirectory(CURDRIVE(), CURDIR()), "C:\\");
}

TEST(CurrentDirectoryOnThePlatform, AFolderIsRebuiltWhole) {
    testing::TempDir dir;
    testing::WorkingDirectory here(dir.path());
    ASSERT_TRUE(here.entered());
    std::string current = testing::CurrentDirectoryNow();
    ASSERT_GE(current.size(), 4u);
    EXPECT_EQ(CURDRIVE(), std::string(1, current[0]));
    EXPECT_EQ(CURDIR(), current.substr(3));
    EXPECT_EQ(InitialDirectory(CURDRIVE(), CURDIR()), current);
}

TEST(CurrentDirectoryOnThePlatform, AnotherDrivesDirectoryIsReadWithoutMovingTheCurrentOne) {
    testing::WorkingDirectory windows("C:\\windows\\system32");
    ASSERT_TRUE(windows.entered());
    EXPECT_EQ(CURDIR('c'), "windows\\system32");
    EXPECT_EQ(CURDIR('C'), CURDIR());
    // A drive this process never made current is at its root (Wine's Z: is /).
    EXPECT_EQ(CURDIR('z'), "");
    EXPECT_EQ(CURDIR('1'), "");
    EXPECT_EQ(testing::CurrentDirectoryNow(), "C:\\windows\\system32");
    EXPECT_EQ(CURDRIVE(), "C");
}

TEST(CodePages, TheProgramRunsWithWindows1252AndOem437) {
    EXPECT_EQ(GetACP(), 1252u);
    EXPECT_EQ(GetOEMCP(), 437u);
    char converted[2] = {};
    ASSERT_TRUE(OemToCharA("\x85", converted));
    EXPECT_EQ(static_cast<unsigned char>(converted[0]), 0xE0);  // "à"
    // the same conversion through the library, past a zero byte too
    EXPECT_EQ(common::OemToAnsi(std::string("\x85\0\x8A", 3)), std::string("\xE0\0\xE8", 3));
}

}  // namespace
}  // namespace kestrel::ui
