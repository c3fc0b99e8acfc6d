// What the input fields accept as dates and numbers.
#include <gtest/gtest.h>

#include "ui/input_rules.h"

namespace kestrel::ui {
namespace {

TEST(BadDateText, RealDaysAndTheEmptyDateAreGood) {
    // A cleared field (no text at all) holds the empty date, as the mask does.
    for (const char* good :
         {"01/01/80", "31/12/79", "29/02/00", "29/02/96", "30/04/21", "  /  /  ", ""}) {
        EXPECT_FALSE(BadDateText(good)) << good;
    }
}

TEST(BadDateText, ImpossibleDaysAndMalformedTextsAreBad) {
    for (const char* bad : {"29/02/81", "31/04/21", "00/01/20", "32/01/20", "01/13/20", "01/00/20",
                            "1/2/03", "01-02-03", "aa/bb/cc", " ", " 1/01/20", "01/01/2020"}) {
        EXPECT_TRUE(BadDateText(bad)) << bad;
    }
}

TEST(BadNumberText, NumbersThatFitTheFieldAreGood) {
    EXPECT_FALSE(BadNumberText("12345", 5, 0));
    EXPECT_FALSE(BadNumberText("-1234", 5, 0));
    EXPECT_FALSE(BadNumberText("  42 ", 5, 0));
    EXPECT_FALSE(BadNumberText("", 5, 0));
    EXPECT_FALSE(BadNumberText("1234.56", 7, 2));
    EXPECT_FALSE(BadNumberText(".5", 7, 2));
    EXPECT_FALSE(BadNumberText("0001234", 5, 0));
}

TEST(BadNumberText, TooManyDigitsOrNoNumberAtAllAreBad) {
    EXPECT_TRUE(BadNumberText("123456", 5, 0));
    EXPECT_TRUE(BadNumberText("-12345", 5, 0));
    EXPECT_TRUE(BadNumberText("12345.6", 7, 2));
    EXPECT_TRUE(BadNumberText("1.234", 7, 2));
    EXPECT_TRUE(BadNumberText("1.5", 5, 0));
    EXPECT_TRUE(BadNumberText("12a", 5, 0));
    EXPECT_TRUE(BadNumberText("-", 5, 0));
    EXPECT_TRUE(BadNumberText("1 2", 5, 0));
}

}  // namespace
}  // namespace kestrel::ui
