// How the please-wait window lays itself out from its message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/wait_window.h"

namespace kestrel::common {
namespace {

using Lines = std::vector<std::string>;

TEST(WaitTextLines, BreakAtLineEndsAndWrapLongLinesAtTheLastBlankThatFits) {
    EXPECT_EQ(WaitTextLines("uno\r\ndue  \r\n\r\ntre"), (Lines{"uno", "due", "", "tre"}));
    const std::string words = std::string(70, 'a') + " " + std::string(20, 'b');
    EXPECT_EQ(WaitTextLines(words), (Lines{std::string(70, 'a'), std::string(20, 'b')}));
    const std::string one_word = std::string(100, 'x');
    EXPECT_EQ(WaitTextLines(one_word), (Lines{std::string(79, 'x'), std::string(21, 'x')}));
    EXPECT_EQ(WaitTextLines(std::string(79, 'y')).size(), 1u);
}

TEST(WaitLayout, OneLineWithoutProgressBar) {
    const WaitLayout layout = LayOutWaitBox(300, 1, 15, 17, false);
    EXPECT_EQ(layout.width, 410);
    EXPECT_EQ(layout.height, 90);
    EXPECT_EQ(layout.text.top, 20);
    EXPECT_EQ(layout.text.left, 65);
    EXPECT_EQ(layout.text.width, 320);
    EXPECT_EQ(layout.text.height, 17) << "a line is never cut to the 10 pixels left by height - 80";
    EXPECT_FALSE(layout.progress.has_value());
}

TEST(WaitLayout, AProgressBarTakesOneMoreLineAndFivePixelsOfWidth) {
    const WaitLayout layout = LayOutWaitBox(300, 3, 15, 17, true);
    EXPECT_EQ(layout.width, 415);
    EXPECT_EQ(layout.height, 135);
    EXPECT_EQ(layout.text.height, 55);
    ASSERT_TRUE(layout.progress.has_value());
    EXPECT_EQ(layout.progress->top, 75);
    EXPECT_EQ(layout.progress->left, 15);
    EXPECT_EQ(layout.progress->width, 380);
    EXPECT_EQ(layout.progress->height, 20);
}

TEST(WaitLayout, BlankTextsAreMeasuredByLengthButNoBoxIsNarrowerThanTheMinimum) {
    EXPECT_EQ(BlankTextWidth(std::string(300, ' ')), 200);
    EXPECT_EQ(BlankTextWidth(""), -100);
    EXPECT_EQ(LayOutWaitBox(BlankTextWidth(std::string(300, ' ')), 1, 15, 17, false).width, 310);
    const WaitLayout empty = LayOutWaitBox(BlankTextWidth(""), 1, 15, 17, false);
    EXPECT_EQ(empty.width, kMinWaitTextWidth + 110);
    EXPECT_GT(empty.text.width, 0);
    EXPECT_TRUE(IsBlankText(""));
    EXPECT_TRUE(IsBlankText("   "));
    EXPECT_TRUE(IsBlankText(" \t\r\n"));
    EXPECT_FALSE(IsBlankText(" a "));
    EXPECT_FALSE(IsBlankText("\r\n."));
}

TEST(ProgressPosition, OnlyVersionSixZeroCountsOneAhead) {
    EXPECT_EQ(ProgressPositionFor(4, 6, 0), 5);
    EXPECT_EQ(ProgressPositionFor(4, 6, 1), 4);
    EXPECT_EQ(ProgressPositionFor(4, 5, 1), 4);
    EXPECT_EQ(ProgressPositionFor(4, 10, 0), 4);
}

}  // namespace
}  // namespace kestrel::common
