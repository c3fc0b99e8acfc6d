#include "common/calendar_date.h"

#include <cctype>
#include <vector>

namespace kestrel::common {

namespace {

constexpr int kFirstYear = 1;
constexpr int kLastYear = 9999;

// Only for dates that passed CheckedDate.
std::chrono::sys_days ToDays(const Date& date) {
    return std::chrono::sys_days{std::chrono::year{date.year} /
                                 std::chrono::month{static_cast<unsigned>(date.month)} /
                                 std::chrono::day{static_cast<unsigned>(date.day)}};
}

}  // namespace

Date MakeDate(int day, int month, int year) {
    if (year < kFirstYear || year > kLastYear || month < 1 || month > 12 || day < 1 || day > 31) {
        return {};
    }
    const std::chrono::year_month_day ymd{std::chrono::year{year},
                                          std::chrono::month{static_cast<unsigned>(month)},
                                          std::chrono::day{static_cast<unsigned>(day)}};
    if (!ymd.ok()) {
        return {};
    }
    return {year, month, day};
}

Date CheckedDate(const Date& date) {
    return MakeDate(date.day, date.month, date.year);
}

bool IsEmptyDate(const Date& date) {
    return CheckedDate(date) == Date{};
}

int Weekday(const Date& date) {
    const Date checked = CheckedDate(date);
    if (checked == Date{}) {
        return 0;
    }
    // c_encoding: 0 = Sunday ... 6 = Saturday.
    return static_cast<int>(std::chrono::weekday{ToDays(checked)}.c_encoding()) + 1;
}

Date AddDays(const Date& date, int days) {
    const Date checked = CheckedDate(date);
    // Years 1 to 9999 span fewer than 3.7 million days: a longer step leaves the
    // range whatever the start, and a shorter one stays far inside the clock's range.
    constexpr int kSpan = 3'700'000;
    if (checked == Date{} || days > kSpan || days < -kSpan) {
        return {};
    }
    const std::chrono::year_month_day moved{ToDays(checked) + std::chrono::days{days}};
    return MakeDate(static_cast<int>(static_cast<unsigned>(moved.day())),
                    static_cast<int>(static_cast<unsigned>(moved.month())),
                    static_cast<int>(moved.year()));
}

namespace {

// The runs of digits of a text, with how many digits each had; at most three.
struct Number {
    int value = 0;
    int digits = 0;
};

std::vector<Number> DigitRuns(std::string_view text) {
    std::vector<Number> runs;
    bool in_run = false;
    for (char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
            in_run = false;
            continue;
        }
        if (!in_run) {
            if (runs.size() == 3) {
                return {};
            }
            runs.push_back({});
            in_run = true;
        }
        Number& run = runs.back();
        if (++run.digits > 4) {
            return {};
        }
        run.value = run.value * 10 + (c - '0');
    }
    return runs;
}

}  // namespace

Date CTOD(std::string_view text, std::string_view date_format, int epoch) {
    const std::vector<Number> runs = DigitRuns(text);
    if (runs.size() != 3) {
        return {};
    }
    // The fields come in the order in which the format names them.
    const std::size_t day_at = date_format.find_first_of("Dd");
    const std::size_t month_at = date_format.find_first_of("Mm");
    const std::size_t year_at = date_format.find_first_of("Yy");
    auto rank = [](std::size_t at, std::size_t a, std::size_t b) {
        return static_cast<int>(at > a) + static_cast<int>(at > b);
    };
    const Number day = runs[rank(day_at, month_at, year_at)];
    const Number month = runs[rank(month_at, day_at, year_at)];
    const Number year_run = runs[rank(year_at, day_at, month_at)];
    int year = year_run.value;
    if (year_run.digits <= 2) {
        const int century = epoch - epoch % 100;
        year += century;
        if (year < epoch) {
            year += 100;
        }
    }
    return MakeDate(day.value, month.value, year);
}

}  // namespace kestrel::common
