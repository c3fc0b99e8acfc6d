#include "common/code_validators.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "base/ascii_case.h"

namespace kestrel::common {

namespace {

constexpr std::size_t kTaxCodeLength = 16;
constexpr std::size_t kTaxCodeLetterPosition = 12;  // the first of the birthplace code
constexpr std::size_t kVatLength = 11;
constexpr std::size_t kIbanLength = 27;

// What a tax-code character at an odd position (1, 3, ..., 15) adds to the check
// sum, by its value (A or 0 = 0, B or 1 = 1, ..., Z = 25).
constexpr std::array<int, 26> kOddPositionValues = {
    1, 0, 5, 7, 9, 13, 15, 17, 19, 21, 2, 4, 18, 20, 11, 3, 6, 8, 12, 14, 16, 10, 22, 25, 24, 23};

bool IsDigit(char ch) {
    return ch >= '0' && ch <= '9';
}
bool IsUpper(char ch) {
    return ch >= 'A' && ch <= 'Z';
}
bool IsLower(char ch) {
    return ch >= 'a' && ch <= 'z';
}
bool IsLetter(char ch) {
    return IsUpper(ch) || IsLower(ch);
}
bool IsLetterOrDigit(char ch) {
    return IsLetter(ch) || IsDigit(ch);
}

int DigitValue(char ch) {
    return ch - '0';
}

std::string_view WithoutTrailingBlanks(std::string_view text) {
    const std::size_t end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

std::string_view WithoutBlanks(std::string_view text) {
    const std::size_t begin = text.find_first_not_of(' ');
    return begin == std::string_view::npos ? std::string_view{}
                                           : WithoutTrailingBlanks(text.substr(begin));
}

bool AllDigits(std::string_view text) {
    for (const char ch : text) {
        if (!IsDigit(ch)) {
            return false;
        }
    }
    return true;
}

// The value of an upper-case tax-code character: A..Z = 0..25, 0..9 = 0..9;
// nothing for any other character.
std::optional<int> TaxCodeValue(char ch) {
    if (IsUpper(ch)) {
        return ch - 'A';
    }
    if (IsDigit(ch)) {
        return DigitValue(ch);
    }
    return std::nullopt;
}

// The IBAN digits of a character: a digit stands for itself, a letter for its
// distance from "A" plus 10 (a lower-case letter thus for 42 to 67, which fails
// the check as it should). Nothing for any other character.
std::optional<std::string> IbanDigits(char ch) {
    if (IsDigit(ch)) {
        return std::string(1, ch);
    }
    if (IsLetter(ch)) {
        return std::to_string(ch - 'A' + 10);
    }
    return std::nullopt;
}

// The remainder modulo 97 of a long decimal number, eight digits at a time, each
// piece prefixed with the remainder so far (at most two digits, so every step fits
// in ten digits).
std::string RemainderModulo97(std::string_view digits) {
    std::string remainder;
    for (std::size_t begin = 0; begin < digits.size(); begin += 8) {
        const std::string piece = remainder + std::string(digits.substr(begin, 8));
        std::int64_t number = 0;
        for (const char ch : piece) {
            number = number * 10 + DigitValue(ch);
        }
        remainder = std::to_string(number % 97);
    }
    return remainder;
}

// The number written in characters `offset` and `offset` + 1; nothing unless both
// are digits.
std::optional<int> TwoDigitNumber(std::string_view text, std::size_t offset) {
    if (text.size() < offset + 2 || !IsDigit(text[offset]) || !IsDigit(text[offset + 1])) {
        return std::nullopt;
    }
    return DigitValue(text[offset]) * 10 + DigitValue(text[offset + 1]);
}

}  // namespace

bool ISCOD(std::string_view code) {
    const std::string upper = base::UpperAscii(code);
    if (WithoutTrailingBlanks(upper).size() != kTaxCodeLength) {
        return ISIVA(upper);
    }
    if (!IsUpper(upper[kTaxCodeLetterPosition - 1])) {
        return false;
    }
    int sum = 0;
    for (std::size_t position = 1; position < kTaxCodeLength; ++position) {
        const std::optional<int> value = TaxCodeValue(upper[position - 1]);
        if (!value) {
            return false;
        }
        const bool odd = position % 2 == 1;
        sum += odd ? kOddPositionValues[static_cast<std::size_t>(*value)] : *value;
    }
    return sum % 26 == upper[kTaxCodeLength - 1] - 'A';
}

bool ISIVA(std::string_view code) {
    const std::string_view digits = WithoutTrailingBlanks(code);
    if (digits.size() != kVatLength || digits == "00000000000" || !AllDigits(digits)) {
        return false;
    }
    int sum = 0;
    for (std::size_t position = 1; position < kVatLength; ++position) {
        const int digit = DigitValue(digits[position - 1]);
        if (position % 2 == 1) {
            sum += digit;
        } else {
            sum += (2 * digit) / 10 + (2 * digit) % 10;
        }
    }
    return (10 - sum % 10) % 10 == DigitValue(digits[kVatLength - 1]);
}

bool ISIBAN(std::string_view code) {
    if (WithoutBlanks(code).size() != kIbanLength) {
        return false;
    }
    // Country and check digits go to the end; then every letter becomes digits.
    const std::string rearranged = std::string(code.substr(4)) + std::string(code.substr(0, 4));
    std::string digits;
    for (const char ch : rearranged) {
        const std::optional<std::string> ch_digits = IbanDigits(ch);
        if (!ch_digits) {
            return false;
        }
        digits += *ch_digits;
    }
    return RemainderModulo97(digits) == "1";
}

bool ISEMAIL(std::string_view text) {
    const std::string_view trimmed = WithoutTrailingBlanks(text);
    if (trimmed.find(' ') != std::string_view::npos) {
        return false;
    }
    if (!trimmed.empty() && trimmed.back() == '.') {
        return false;
    }
    if (text.find('.') == std::string_view::npos || text.find('@') == std::string_view::npos) {
        return false;
    }
    constexpr std::string_view kPunctuation = " .@_-'";
    for (const char ch : text) {
        if (kPunctuation.find(ch) == std::string_view::npos && !IsLetterOrDigit(ch)) {
            return false;
        }
    }
    return true;
}

bool ISTIME(std::string_view text) {
    if (text.find(' ') != std::string_view::npos) {
        return false;
    }
    const std::optional<int> hours = TwoDigitNumber(text, 0);
    const std::optional<int> minutes = TwoDigitNumber(text, 3);
    const std::optional<int> seconds = TwoDigitNumber(text, 6);
    return hours && minutes && seconds && *hours <= 23 && *minutes <= 59 && *seconds <= 59;
}

}  // namespace kestrel::common
