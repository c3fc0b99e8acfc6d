#include "ui/input_rules.h"

#include <cctype>
#include <chrono>

namespace kestrel::ui {

namespace {

constexpr int kFirstYearOfWindow = 1980;

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool TwoDigits(std::string_view text, std::size_t at, int& value) {
    if (!IsDigit(text[at]) || !IsDigit(text[at + 1])) {
        return false;
    }
    value = (text[at] - '0') * 10 + (text[at + 1] - '0');
    return true;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

bool BadDateText(std::string_view text) {
    if (IsEmptyDateText(text)) {
        return false;
    }
    int day = 0;
    int month = 0;
    int year = 0;
    if (text.size() != 8 || text[2] != '/' || text[5] != '/' || !TwoDigits(text, 0, day) ||
        !TwoDigits(text, 3, month) || !TwoDigits(text, 6, year)) {
        return true;
    }
    const int full_year = year + (year >= kFirstYearOfWindow % 100 ? 1900 : 2000);
    const std::chrono::year_month_day date{std::chrono::year{full_year},
                                           std::chrono::month{static_cast<unsigned>(month)},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    return !date.ok();
}

bool BadNumberText(std::string_view text, int width, int decimals) {
    std::string_view number = Trimmed(text);
    if (number.empty()) {
        return false;
    }
    int places = 0;  // the characters the number needs in the field
    if (number.front() == '-') {
        number.remove_prefix(1);
        ++places;
    }
    std::size_t point = number.find('.');
    std::string_view whole = number.substr(0, point);
    std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : number.substr(point + 1);
    if (whole.empty() && fraction.empty()) {
        return true;
    }
    for (std::string_view part : {whole, fraction}) {
        for (char c : part) {
            if (!IsDigit(c)) {
                return true;
            }
        }
    }
    if (static_cast<int>(fraction.size()) > decimals) {
        return true;
    }
    while (whole.size() > 1 && whole.front() == '0') {
        whole.remove_prefix(1);  // leading zeros take no place
    }
    places += static_cast<int>(whole.size());
    const int room = decimals > 0 ? width - decimals - 1 : width;
    return places > room;
}

}  // namespace kestrel::ui
