#pragma once

#include <string_view>

namespace kestrel::ui {

// What an input field's text must look like to be a valid value of its kind.

// The edit text of a date field that holds no date.
inline constexpr std::string_view kEmptyDateText = "  /  /  ";

// True when a date field's text is the empty date: the empty mask, or no text at all
// (a field the user has cleared).
constexpr bool IsEmptyDateText(std::string_view text) {
    return text.empty() || text == kEmptyDateText;
}

// True when `text` is not a real day in the form dd/mm/yy (two digits each; the
// two-digit year is read in the hundred years from 1980, as the library reads
// dates). The empty date is not a bad date.
bool BadDateText(std::string_view text);

// True when `text` is not a number that fits a field of `width` characters with
// `decimals` digits after the point: optional blanks, an optional minus sign (which
// takes a place), digits, and at most `decimals` digits after a point. A blank
// field is zero and fits.
bool BadNumberText(std::string_view text, int width, int decimals);

}  // namespace kestrel::ui
