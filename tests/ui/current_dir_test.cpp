#include <gtest/gtest.h>

#include "ui/current_dir.h"

namespace kestrel::ui {
namespace {

std::string RebuiltFolder(std::string_view current_directory) {
    return InitialDirectory(DriveOfDirectory(current_directory),
                            DirectoryWithoutDrive(current_directory));
}

TEST(CurrentDirectory, DriveIsTheUpperCaseLetterOrABackslashForANetworkPath) {
    EXPECT_EQ(DriveOfDirectory("C:\\work\\tapes"), "C");
    EXPECT_EQ(DriveOfDirectory("d:\\"), "D");
    EXPECT_EQ(DriveOfDirectory("\\\\server\\share\\dir"), "\\");
    EXPECT_EQ(DriveOfDirectory(""), "");
}

TEST(CurrentDirectory, DirectoryLosesItsDriveAndOneSeparatorAtEachEnd) {
    EXPECT_EQ(DirectoryWithoutDrive("C:\\"), "");
    EXPECT_EQ(DirectoryWithoutDrive("C:\\WORK\\TAPES"), "WORK\\TAPES");
    EXPECT_EQ(DirectoryWithoutDrive("C:\\WORK\\TAPES\\"), "WORK\\TAPES");
    EXPECT_EQ(DirectoryWithoutDrive("C:/work/"), "work");
    EXPECT_EQ(DirectoryWithoutDrive("\\\\server\\share\\dir"), "\\server\\share\\dir");
    EXPECT_EQ(DirectoryWithoutDrive("\\\\server\\share\\"), "\\server\\share");
    EXPECT_EQ(DirectoryWithoutDrive(""), "");
}

TEST(CurrentDirectory, TheFileDialogStartsWhereTheProgramStarted) {
    EXPECT_EQ(RebuiltFolder("C:\\work\\tapes"), "C:\\work\\tapes");
    EXPECT_EQ(RebuiltFolder("C:\\"), "C:\\");
    EXPECT_EQ(RebuiltFolder("z:\\tmp"), "Z:\\tmp");
    EXPECT_EQ(RebuiltFolder("\\\\server\\share\\dir"), "\\\\server\\share\\dir");
    EXPECT_EQ(RebuiltFolder("\\\\server\\share\\"), "\\\\server\\share");
}

TEST(CurrentDirectory, AnUnknownCurrentDirectoryLeavesTheChoiceToTheDialog) {
    EXPECT_EQ(InitialDirectory("", ""), "");
    EXPECT_EQ(RebuiltFolder(""), "");
}

}  // namespace
}  // namespace kestrel::ui
