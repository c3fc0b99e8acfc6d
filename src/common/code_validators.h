#pragma once

#include <string_view>

namespace kestrel::common {

// The library's validity tests for the codes of Italian business data. Each takes
// one text (Windows-1252 bytes) and answers whether it is acceptable. "Trailing
// blanks" are trailing spaces.

// ISCOD: a personal tax code (codice fiscale, 16 characters, upper or lower case)
// with a correct check letter. A text that is not 16 characters long without its
// trailing blanks is tested as a VAT number instead (ISIVA), since a company may be
// identified by its VAT number.
bool ISCOD(std::string_view code);

// ISIVA: a VAT number (partita IVA) of 11 digits, trailing blanks aside, with a
// correct check digit, other than eleven zeros.
bool ISIVA(std::string_view code);

// ISIBAN: a 27-character international bank account number (the length of an
// Italian one) whose two check digits are correct (ISO 13616, modulo 97). The length
// is counted without leading and trailing blanks, but the code must be passed
// without blanks to pass; letters are expected in upper case.
bool ISIBAN(std::string_view code);

// ISEMAIL: a plausible e-mail address: no blank before its trailing blanks, no "."
// at the end, at least one "." and one "@", and nothing but letters, digits, ".",
// "@", "_", "-" and "'". How many "@" and "." there are and in which order is not
// checked.
bool ISEMAIL(std::string_view text);

// ISTIME: a time "hh:mm:ss" from 00:00:00 to 23:59:59, two digits each; the
// characters between the numbers are not checked. A text with a blank anywhere is
// no time.
bool ISTIME(std::string_view text);

}  // namespace kestrel::common
