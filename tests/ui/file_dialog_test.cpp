#include <gtest/gtest.h>

#include <string>

#include "ui/file_dialog.h"

namespace kestrel::ui {
namespace {

using namespace std::string_literals;

const std::string kTapFilter = "File TAP (*.tap)|*.tap";

FileDialogPlan Plan(const CGetFileOptions& options) {
    std::optional<FileDialogPlan> plan = PlanFileDialog(options);
    EXPECT_TRUE(plan.has_value());
    return plan.value_or(FileDialogPlan{});
}

TEST(FileDialogPlan, NoOptionAtAllShowsNoDialog) {
    EXPECT_FALSE(PlanFileDialog({}).has_value());
    EXPECT_EQ(CGetFileOptions{}.IsEmpty(), true);
    EXPECT_TRUE(PlanFileDialog({.filter_text_as_file_name = true}).has_value());
    EXPECT_TRUE(PlanFileDialog({.flags = 0}).has_value());
}

TEST(FileDialogPlan, TheProgramsCallOpensATapFileWithoutMovingTheCurrentDirectory) {
    FileDialogPlan plan = Plan({.filter = kTapFilter,
                                .title = "Seleziona file da inviare",
                                .initial_directory = "C:\\work"});
    EXPECT_FALSE(plan.save_mode);
    EXPECT_EQ(plan.flags, 0x80Cu);
    EXPECT_NE(plan.flags & kOfnNoChangeDir, 0u);
    EXPECT_EQ(plan.filter_index, 1u);
    EXPECT_EQ(plan.title, "Seleziona file da inviare");
    EXPECT_EQ(plan.initial_directory, "C:\\work");
    EXPECT_EQ(plan.filter_area,
              "File TAP (*.tap)\0*.tap\0"s + std::string(kFilterAreaSize - 23, '\0'));
    EXPECT_EQ(plan.file_name, "");  // a filter with a "|" is no file name
    EXPECT_EQ(plan.file_name_field_size, 256u);
    EXPECT_FALSE(plan.whole_field_result);
}

TEST(FileDialogPlan, DefaultsForTitleIndexAndFolder) {
    FileDialogPlan plan = Plan({.filter = "*.tap"});
    EXPECT_EQ(plan.title, "Select the file");
    EXPECT_EQ(plan.filter_index, 1u);
    EXPECT_EQ(plan.initial_directory, "");
    EXPECT_EQ(plan.file_name, "*.tap");  // a plain pattern starts the name field
}

TEST(FileDialogPlan, FilterIndexIsTheLowByteOfANonZeroNumber) {
    EXPECT_EQ(Plan({.filter_index = 0}).filter_index, 1u);
    EXPECT_EQ(Plan({.filter_index = 2}).filter_index, 2u);
    EXPECT_EQ(Plan({.filter_index = 0x103}).filter_index, 3u);
    EXPECT_EQ(Plan({.filter_index = 0x100}).filter_index, 0u);
}

TEST(FileDialogPlan, SaveModeFollowsTheFlagOrElseTheInitialFileName) {
    EXPECT_FALSE(Plan({.filter = kTapFilter}).save_mode);
    EXPECT_TRUE(Plan({.initial_file = "out.tap"}).save_mode);
    EXPECT_FALSE(Plan({.save_mode = false, .initial_file = "in.tap"}).save_mode);
    EXPECT_TRUE(Plan({.filter = kTapFilter, .save_mode = true}).save_mode);
}

TEST(FileDialogPlan, FlagsAreTakenAsGivenComputedOnlyFromZero) {
    EXPECT_EQ(Plan({.flags = 0x1000}).flags, 0x1000u);
    EXPECT_EQ(Plan({.save_mode = false, .flags = 0}).flags, 0x808u);
    EXPECT_EQ(Plan({.save_mode = true, .flags = 0}).flags, 0x80Cu);
    EXPECT_EQ(Plan({.save_mode = true, .long_names = true, .flags = 0}).flags, 0x20080Cu);
    // long names only count when the flags are computed
    EXPECT_EQ(Plan({.filter = "*.x", .long_names = true}).flags, 0x80Cu);
}

TEST(FileDialogPlan, TheFileNameFieldStartsWithTheFileNameOrTheFilterText) {
    EXPECT_EQ(Plan({.filter = kTapFilter, .initial_file = "nastro.tap"}).file_name, "nastro.tap");
    EXPECT_EQ(Plan({.filter = kTapFilter, .filter_text_as_file_name = true}).file_name, kTapFilter);
    EXPECT_EQ(Plan({.filter = std::string(300, 'a')}).file_name, std::string(255, 'a'));
    // a name longer than the field is cut so the platform still finds its end
    EXPECT_EQ(Plan({.initial_file = std::string(400, 'n')}).file_name, std::string(255, 'n'));
}

TEST(FileDialogPlan, LongTextsAreCutToTheirAreas) {
    FileDialogPlan plan = Plan({.filter = std::string(500, 'f') + "|*.tap",
                                .title = std::string(300, 't'),
                                .initial_directory = std::string(300, 'd')});
    EXPECT_EQ(plan.title.size(), 255u);
    EXPECT_EQ(plan.initial_directory.size(), 255u);
    ASSERT_EQ(plan.filter_area.size(), kFilterAreaSize);
    EXPECT_EQ(plan.filter_area.substr(0, 398), std::string(398, 'f'));
    EXPECT_EQ(plan.filter_area.substr(398), "\0\0"s);  // the list still ends
    EXPECT_EQ(plan.file_name, std::string(255, 'f'));  // the "|" was cut off
}

TEST(FileDialogPlan, MultipleSelectionGetsTheLargeFieldAndAnswersItWhole) {
    FileDialogPlan open = Plan({.filter = kTapFilter, .flags = 0x80C | kOfnAllowMultiSelect});
    EXPECT_EQ(open.file_name_field_size, kMultiSelectFieldSize);
    EXPECT_TRUE(open.whole_field_result);
    std::string field = "C:\\tapes\0a.tap\0b.tap\0\0"s;
    field.resize(kMultiSelectFieldSize, '\0');
    EXPECT_EQ(ChosenPath(open, field), field);

    FileDialogPlan save = Plan({.save_mode = true, .flags = 0x80C | kOfnAllowMultiSelect});
    EXPECT_FALSE(save.whole_field_result);
    EXPECT_EQ(ChosenPath(save, field), "C:\\tapes");
}

TEST(FileDialogPlan, OneChoiceIsTheFieldUpToItsFirstZeroByte) {
    FileDialogPlan plan = Plan({.filter = kTapFilter});
    std::string field = "C:\\tapes\\gioco.tap\0old text"s;
    field.resize(256, '\0');
    EXPECT_EQ(ChosenPath(plan, field), "C:\\tapes\\gioco.tap");
}

}  // namespace
}  // namespace kestrel::ui
