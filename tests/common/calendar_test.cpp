#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <optional>
#include <string>

#include "common/calendar.h"

namespace kestrel::common {
namespace {

struct DayMonth {
    int day;
    int month;
};

// Easter Sunday by Oudin's algorithm (1940), a computus of its own, independent of
// the one under test.
DayMonth OudinEaster(int year) {
    const int g = year % 19;
    const int c = year / 100;
    const int h = (c - c / 4 - (8 * c + 13) / 25 + 19 * g + 15) % 30;
    const int i = h - (h / 28) * (1 - (h / 28) * (29 / (h + 1)) * ((21 - g) / 11));
    const int j = (year + year / 4 + i + 2 - c + c / 4) % 7;
    const int p = i - j;
    return {1 + (p + 27 + (p + 6) / 40) % 31, 3 + (p + 26) / 30};
}

// The weekday by Zeller's congruence, 1 = Sunday ... 7 = Saturday.
int ZellerWeekday(int day, int month, int year) {
    if (month < 3) {
        month += 12;
        year -= 1;
    }
    const int k = year % 100;
    const int j = year / 100;
    const int h = (day + 13 * (month + 1) / 5 + k + k / 4 + j / 4 + 5 * j) % 7;  // 0 = Saturday
    return (h + 6) % 7 + 1;
}

// --- Names -----------------------------------------------------------------------

TEST(CalendarNames, EveryWeekdayOfAWeekIsNamedInItalianWithTheAccentAsByte236) {
    // 6 December 2026 is a Sunday.
    const std::array<std::string, 7> expected = {
        "Domenica", "Luned\xEC", "Marted\xEC", "Mercoled\xEC", "Gioved\xEC", "Venerd\xEC", "Sabato",
    };
    for (int offset = 0; offset < 7; ++offset) {
        EXPECT_EQ(CDAY(MakeDate(6 + offset, 12, 2026)), expected[static_cast<std::size_t>(offset)])
            << "day " << 6 + offset;
    }
    const std::string monday = CDAY(MakeDate(7, 12, 2026));
    ASSERT_EQ(monday.size(), 6u);
    EXPECT_EQ(static_cast<unsigned char>(monday.back()), 236);
}

TEST(CalendarNames, MonthsAreNamedByNumberAndByDate) {
    const std::array<std::string, 12> expected = {
        "Gennaio", "Febbraio", "Marzo",     "Aprile",  "Maggio",   "Giugno",
        "Luglio",  "Agosto",   "Settembre", "Ottobre", "Novembre", "Dicembre",
    };
    for (int month = 1; month <= 12; ++month) {
        const std::string& name = expected[static_cast<std::size_t>(month - 1)];
        EXPECT_EQ(CMNT(month), name);
        EXPECT_EQ(CMNT(MakeDate(28, month, 1999)), name);
    }
}

TEST(CalendarNames, TheEmptyDateAndMonthZeroHaveTheEmptyName) {
    EXPECT_EQ(CDAY(Date{}), "");
    EXPECT_EQ(CMNT(Date{}), "");
    ASSERT_TRUE(CMNT(0).has_value());
    EXPECT_EQ(*CMNT(0), "");
    EXPECT_EQ(WeekdayName(0), std::optional<std::string_view>(""));
}

TEST(CalendarNames, NumbersOutsideTheTablesGiveNoResult) {
    for (const int month : {-1, 13, 100}) {
        EXPECT_EQ(CMNT(month), std::nullopt) << month;
        EXPECT_EQ(MonthName(month), std::nullopt) << month;
    }
    for (const int weekday : {-1, 8}) {
        EXPECT_EQ(WeekdayName(weekday), std::nullopt) << weekday;
    }
}

TEST(CalendarNames, TheWeekdayOfEveryDayFrom1900To2100MatchesZellersCongruence) {
    Date previous = MakeDate(31, 12, 1899);
    for (int year = 1900; year <= 2100; ++year) {
        for (int month = 1; month <= 12; ++month) {
            const int days = MDAYS(MakeDate(1, month, year));
            for (int day = 1; day <= days; ++day) {
                const Date date = MakeDate(day, month, year);
                ASSERT_EQ(date, AddDays(previous, 1)) << day << "/" << month << "/" << year;
                ASSERT_EQ(CDAY(date), *WeekdayName(ZellerWeekday(day, month, year)))
                    << day << "/" << month << "/" << year;
                previous = date;
            }
        }
    }
}

// --- Month lengths and leap years ------------------------------------------------

TEST(CalendarMonthLength, LeapYearsFollowTheGregorianRule) {
    EXPECT_FALSE(ISLEAP(1900));
    EXPECT_TRUE(ISLEAP(2000));
    EXPECT_TRUE(ISLEAP(2024));
    EXPECT_FALSE(ISLEAP(2023));
    EXPECT_FALSE(ISLEAP(2100));
    EXPECT_TRUE(ISLEAP(1600));
    EXPECT_TRUE(ISLEAP(MakeDate(15, 7, 2000)));
    EXPECT_FALSE(ISLEAP(MakeDate(15, 7, 1900)));
    EXPECT_FALSE(ISLEAP(Date{}));
}

TEST(CalendarMonthLength, FebruaryHas29DaysExactlyInLeapYears) {
    for (const int day : {1, 15, 29}) {
        EXPECT_EQ(MDAYS(MakeDate(day, 2, 2000)), 29) << day;
    }
    EXPECT_EQ(MDAYS(MakeDate(1, 2, 1900)), 28);
    EXPECT_EQ(MDAYS(MakeDate(10, 2, 2024)), 29);
    EXPECT_EQ(MDAYS(MakeDate(10, 2, 2025)), 28);
}

TEST(CalendarMonthLength, EveryMonthEndsWhereTheCalendarEndsIt) {
    for (const int year : {1900, 2000, 2023, 2024}) {
        for (int month = 1; month <= 12; ++month) {
            const int days = MDAYS(MakeDate(1, month, year));
            EXPECT_FALSE(IsEmptyDate(MakeDate(days, month, year))) << month << "/" << year;
            EXPECT_TRUE(IsEmptyDate(MakeDate(days + 1, month, year))) << month << "/" << year;
            EXPECT_EQ(AddDays(MakeDate(days, month, year), 1),
                      MakeDate(1, month % 12 + 1, year + month / 12));
        }
    }
    EXPECT_EQ(MDAYS(Date{}), 0);
}

// --- Easter ----------------------------------------------------------------------

TEST(CalendarEaster, KnownYears) {
    EXPECT_EQ(EASTER(2015), MakeDate(5, 4, 2015));
    EXPECT_EQ(EASTER(2016), MakeDate(27, 3, 2016));
    EXPECT_EQ(EASTER(2000), MakeDate(23, 4, 2000));
    EXPECT_EQ(EASTER(MakeDate(31, 12, 2016)), MakeDate(27, 3, 2016));
}

TEST(CalendarEaster, From1900To2100ItMatchesAnIndependentComputusAndFallsOnASunday) {
    for (int year = 1900; year <= 2100; ++year) {
        const DayMonth oudin = OudinEaster(year);
        const Date easter = EASTER(year);
        ASSERT_EQ(easter, MakeDate(oudin.day, oudin.month, year)) << year;
        EXPECT_EQ(Weekday(easter), 1) << year;
        const int day_of_spring = easter.month == 3 ? easter.day : 31 + easter.day;
        EXPECT_GE(day_of_spring, 22) << year;       // not before 22 March
        EXPECT_LE(day_of_spring, 31 + 25) << year;  // not after 25 April
    }
}

TEST(CalendarEaster, YearsBelow100AreTheirOwnYearsNotTwoDigitYearsOfTheEpoch) {
    for (const int year : {1, 15, 80, 99, 100, 999}) {
        const DayMonth oudin = OudinEaster(year);
        EXPECT_EQ(EASTER(year), MakeDate(oudin.day, oudin.month, year)) << year;
    }
}

TEST(CalendarEaster, NoYearGivesTheEmptyDate) {
    EXPECT_EQ(EASTER(Date{}), Date{});
    EXPECT_EQ(EASTER(0), Date{});
    EXPECT_EQ(EASTER(-2015), Date{});
    EXPECT_EQ(EASTER(10000), Date{});
    const DayMonth last = OudinEaster(9999);
    EXPECT_EQ(EASTER(9999), MakeDate(last.day, last.month, 9999));
}

// --- Holidays --------------------------------------------------------------------

TEST(CalendarHolidays, EasterMondayIsAHolidayAndTheTuesdayAfterIsNot) {
    EXPECT_TRUE(ISFEST(MakeDate(6, 4, 2015)));
    EXPECT_TRUE(ISFEST(MakeDate(6, 4, 2015), false));
    EXPECT_FALSE(ISFEST(MakeDate(7, 4, 2015)));
    EXPECT_TRUE(ISFEST(MakeDate(1, 4, 2024), false));  // Easter on 31 March
}

TEST(CalendarHolidays, SaturdaysCountUnlessTheSecondArgumentIsFalse) {
    const Date saturday = MakeDate(12, 12, 2026);
    EXPECT_TRUE(ISFEST(saturday));
    EXPECT_TRUE(ISFEST(saturday, true));
    EXPECT_FALSE(ISFEST(saturday, false));
    EXPECT_TRUE(ISFEST(MakeDate(13, 12, 2026), false));  // Sunday
    EXPECT_FALSE(ISFEST(MakeDate(11, 12, 2026)));        // Friday
    EXPECT_TRUE(ISFEST(MakeDate(26, 12, 2026), false));  // Santo Stefano on a Saturday
}

TEST(CalendarHolidays, EveryDayFrom2000To2030IsAHolidayExactlyWhenTheItalianCalendarSaysSo) {
    constexpr std::array<DayMonth, 10> kFixed = {
        {{1, 1}, {6, 1}, {25, 4}, {1, 5}, {2, 6}, {15, 8}, {1, 11}, {8, 12}, {25, 12}, {26, 12}}};
    for (int year = 2000; year <= 2030; ++year) {
        const DayMonth easter = OudinEaster(year);
        const DayMonth monday =
            easter.day == 31 ? DayMonth{1, 4} : DayMonth{easter.day + 1, easter.month};
        for (Date date = MakeDate(1, 1, year); date.year == year; date = AddDays(date, 1)) {
            bool holiday = date.day == monday.day && date.month == monday.month;
            for (const DayMonth& fixed : kFixed) {
                holiday = holiday || (date.day == fixed.day && date.month == fixed.month);
            }
            const int weekday = ZellerWeekday(date.day, date.month, year);
            const bool sunday = weekday == 1;
            const bool saturday = weekday == 7;
            ASSERT_EQ(ISFEST(date, false), holiday || sunday)
                << date.day << "/" << date.month << "/" << year;
            ASSERT_EQ(ISFEST(date), holiday || sunday || saturday)
                << date.day << "/" << date.month << "/" << year;
        }
    }
}

TEST(CalendarHolidays, TheEmptyDateIsNoHoliday) {
    EXPECT_FALSE(ISFEST(Date{}));
    EXPECT_FALSE(ISFEST(Date{}, false));
}

// --- Dates and times -------------------------------------------------------------

TEST(CalendarDates, TheDatePartOfADateAndTimeDropsTheTime) {
    using std::chrono::hours;
    using std::chrono::milliseconds;
    const DateTime evening{MakeDate(8, 12, 2026), milliseconds(hours(23)) + milliseconds(59'999)};
    EXPECT_EQ(TTOD(evening), MakeDate(8, 12, 2026));
    EXPECT_EQ(TTOD(DateTime{}), Date{});
}

TEST(CalendarDates, DaysOutsideTheCalendarGiveTheEmptyDate) {
    EXPECT_EQ(MakeDate(29, 2, 1900), Date{});
    EXPECT_EQ(MakeDate(31, 4, 2026), Date{});
    EXPECT_EQ(MakeDate(0, 1, 2026), Date{});
    EXPECT_EQ(MakeDate(1, 0, 2026), Date{});
    EXPECT_EQ(MakeDate(1, 13, 2026), Date{});
    EXPECT_EQ(MakeDate(1, 1, 0), Date{});
    EXPECT_EQ(MakeDate(1, 1, 10000), Date{});
    EXPECT_FALSE(IsEmptyDate(MakeDate(29, 2, 2000)));
}

TEST(CalendarDates, AValueThatIsNoCalendarDateCountsAsTheEmptyDate) {
    for (const Date& wrong : {Date{2026, 13, 1}, Date{2026, -1, 1}, Date{2026, 2, 30},
                              Date{0, 1, 1}, Date{2026, 0, 5}}) {
        EXPECT_EQ(CDAY(wrong), "");
        EXPECT_EQ(CMNT(wrong), "");
        EXPECT_EQ(MDAYS(wrong), 0);
        EXPECT_EQ(Weekday(wrong), 0);
        EXPECT_FALSE(ISLEAP(wrong));
        EXPECT_FALSE(ISFEST(wrong));
        EXPECT_EQ(EASTER(wrong), Date{});
        EXPECT_EQ(AddDays(wrong, 1), Date{});
        EXPECT_EQ(TTOD(DateTime{wrong, std::chrono::hours(1)}), Date{});
    }
}

TEST(CalendarDates, DayArithmeticStaysWithinYears1To9999) {
    EXPECT_EQ(AddDays(MakeDate(31, 12, 9998), 1), MakeDate(1, 1, 9999));
    EXPECT_EQ(AddDays(MakeDate(31, 12, 9999), 1), Date{});
    EXPECT_EQ(AddDays(MakeDate(1, 1, 1), -1), Date{});
    EXPECT_EQ(AddDays(MakeDate(1, 1, 2000), 2'000'000'000), Date{});
    EXPECT_EQ(AddDays(MakeDate(1, 1, 2000), -2'000'000'000), Date{});
    EXPECT_EQ(AddDays(Date{}, 1), Date{});
    EXPECT_EQ(AddDays(MakeDate(1, 3, 2000), -1), MakeDate(29, 2, 2000));
}

}  // namespace
}  // namespace kestrel::common
