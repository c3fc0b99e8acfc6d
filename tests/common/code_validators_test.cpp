#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/code_validators.h"

namespace kestrel::common {
namespace {

// --- Independent check-character helpers ------------------------------------------

// The check letter of the first 15 characters of a codice fiscale, from the
// published tables: a digit counts as the letter of the same rank (0 = A ... 9 = J);
// at odd positions a letter counts as its index in kOddRanking, at even positions
// as its place in the alphabet.
char TaxCodeCheckLetter(std::string_view first15) {
    constexpr std::string_view kOddRanking = "BAKPLCQDREVOSFTGUHMINJWZYX";
    int sum = 0;
    for (std::size_t i = 0; i < first15.size(); ++i) {
        char ch = first15[i];
        if (ch >= '0' && ch <= '9') {
            ch = static_cast<char>('A' + (ch - '0'));
        }
        const bool odd = i % 2 == 0;  // position i + 1
        sum += odd ? static_cast<int>(kOddRanking.find(ch)) : ch - 'A';
    }
    return static_cast<char>('A' + sum % 26);
}

std::string TaxCode(std::string_view first15) {
    return std::string(first15) + TaxCodeCheckLetter(first15);
}

// The Luhn check digit of a VAT number's first ten digits: from the right, every
// other digit doubled (its digits summed), starting with the rightmost.
char VatCheckDigit(std::string_view first10) {
    int sum = 0;
    bool doubled = true;
    for (auto it = first10.rbegin(); it != first10.rend(); ++it, doubled = !doubled) {
        int digit = *it - '0';
        if (doubled) {
            digit *= 2;
            if (digit > 9) {
                digit -= 9;
            }
        }
        sum += digit;
    }
    return static_cast<char>('0' + (10 - sum % 10) % 10);
}

std::string VatNumber(std::string_view first10) {
    return std::string(first10) + VatCheckDigit(first10);
}

// The remainder modulo 97 of a text of digits and upper-case letters (A = 10 ...
// Z = 35), one character at a time.
int Mod97(std::string_view text) {
    int remainder = 0;
    for (const char ch : text) {
        if (ch >= '0' && ch <= '9') {
            remainder = (remainder * 10 + (ch - '0')) % 97;
        } else {
            remainder = (remainder * 100 + (ch - 'A' + 10)) % 97;
        }
    }
    return remainder;
}

std::string TwoDigits(int number) {
    return std::string{static_cast<char>('0' + number / 10), static_cast<char>('0' + number % 10)};
}

// The check digits (02 to 98) of an IBAN of the country and national account number.
int IbanCheckDigits(std::string_view country, std::string_view bban) {
    return 98 - Mod97(std::string(bban) + std::string(country) + "00");
}

std::string Iban(std::string_view country, std::string_view bban) {
    return std::string(country) + TwoDigits(IbanCheckDigits(country, bban)) + std::string(bban);
}

std::string WithCharAt(std::string text, std::size_t index, char ch) {
    text[index] = ch;
    return text;
}

// --- ISCOD -----------------------------------------------------------------------

const std::vector<std::string_view> kTaxCodeBodies = {
    "RSSMRA85T10A562",  // Mario Rossi, 10 December 1985, Agrigento
    "BNCLRA70A41H501",  // Laura Bianchi, 1 January 1970, Roma
    "VRDGNN80E15F205",  // Giovanni Verdi, 15 May 1980, Milano
    "SPSNTN75M52L219",  // Antonietta Esposito, 12 August 1975, Torino
    "RSSMRA85T10A56N",  // Mario Rossi's code with its last digit substituted (omocodia)
    "RSSMRALUTMLARSN",  // ... and with every digit substituted
};

TEST(TaxCode, APublishedCodeAndItsLowerCaseFormAreValid) {
    EXPECT_EQ(TaxCodeCheckLetter("RSSMRA85T10A562"), 'S');  // anchors the helper
    EXPECT_TRUE(ISCOD("RSSMRA85T10A562S"));
    EXPECT_TRUE(ISCOD("rssmra85t10a562s"));
    EXPECT_TRUE(ISCOD("RSSMRA85T10A562S   "));
}

TEST(TaxCode, OnlyTheRightCheckLetterPasses) {
    for (const std::string_view body : kTaxCodeBodies) {
        const char right = TaxCodeCheckLetter(body);
        for (char check = 'A'; check <= 'Z'; ++check) {
            EXPECT_EQ(ISCOD(std::string(body) + check), check == right) << body << check;
        }
        EXPECT_FALSE(ISCOD(std::string(body) + '0')) << body;
    }
}

TEST(TaxCode, TheTwelfthCharacterMustBeALetter) {
    // Check letters computed over the whole body: only the shape is wrong.
    EXPECT_FALSE(ISCOD(TaxCode("RSSMRA85T100562")));
    EXPECT_TRUE(ISCOD(TaxCode("RSSMRA85T10L562")));
}

TEST(TaxCode, AnythingButLettersAndDigitsInTheFirst15IsInvalid) {
    for (const char odd : {'-', ' ', '\xC8', '\0'}) {
        std::string code = TaxCode("RSSMRA85T10A562");
        code[4] = odd;
        EXPECT_FALSE(ISCOD(code)) << static_cast<int>(static_cast<unsigned char>(odd));
    }
}

TEST(TaxCode, AnyOtherLengthIsTestedAsAVatNumber) {
    const std::string vat = VatNumber("0123456015");
    EXPECT_TRUE(ISCOD(vat));
    EXPECT_TRUE(ISCOD(vat + "  "));
    EXPECT_FALSE(ISCOD(WithCharAt(vat, 10, vat[10] == '9' ? '0' : static_cast<char>(vat[10] + 1))));
    EXPECT_FALSE(ISCOD("00000000000"));
    EXPECT_FALSE(ISCOD("RSSMRA85T10A562"));    // 15 characters
    EXPECT_FALSE(ISCOD(" RSSMRA85T10A562S"));  // a leading blank counts
    EXPECT_FALSE(ISCOD("RSSMRA85T10A562SX"));  // 17 characters
    EXPECT_FALSE(ISCOD(""));
}

// --- ISIVA -----------------------------------------------------------------------

const std::vector<std::string_view> kVatBodies = {
    "0123456015",  // Milano
    "0987654058",  // Roma
    "0246813001",  // Torino
    "0172345063",  // Napoli
    "1234567120",
};

TEST(VatNumber, OnlyTheRightCheckDigitPasses) {
    for (const std::string_view body : kVatBodies) {
        const char right = VatCheckDigit(body);
        for (char check = '0'; check <= '9'; ++check) {
            EXPECT_EQ(ISIVA(std::string(body) + check), check == right) << body << check;
        }
    }
}

TEST(VatNumber, EverySingleDigitChangeIsCaught) {
    const std::string vat = VatNumber("0987654058");
    for (std::size_t i = 0; i < 10; ++i) {
        const char other = vat[i] == '9' ? '0' : static_cast<char>(vat[i] + 1);
        EXPECT_FALSE(ISIVA(WithCharAt(vat, i, other))) << i;
    }
}

TEST(VatNumber, ElevenZerosAreRefusedThoughTheirCheckDigitFits) {
    EXPECT_EQ(VatCheckDigit("0000000000"), '0');
    EXPECT_FALSE(ISIVA("00000000000"));
    EXPECT_FALSE(ISIVA("00000000000   "));
}

TEST(VatNumber, OnlyElevenDigitsBeforeTrailingBlanksAreANumber) {
    const std::string vat = VatNumber("0246813001");
    EXPECT_TRUE(ISIVA(vat + " "));
    EXPECT_FALSE(ISIVA(" " + vat));
    EXPECT_FALSE(ISIVA(vat.substr(0, 10)));
    EXPECT_FALSE(ISIVA(vat + "0"));
    EXPECT_FALSE(ISIVA(""));
}

TEST(VatNumber, ALetterIsRefusedEvenWhereItsDistanceFromZeroWouldFitTheCheck) {
    // "A" is 17 from "0": at an odd position it would count as the 7 it replaces
    // plus 10, which leaves the check digit unchanged.
    const std::string vat = VatNumber("0172345063");
    ASSERT_EQ(vat[2], '7');
    EXPECT_FALSE(ISIVA(WithCharAt(vat, 2, 'A')));
    EXPECT_FALSE(ISIVA(WithCharAt(vat, 5, '-')));
}

// --- ISIBAN ----------------------------------------------------------------------

struct Account {
    std::string_view country;
    std::string_view bban;
};

// National account numbers of countries whose IBAN has 27 characters.
const std::vector<Account> kAccounts = {
    {"IT", "X0542811101000000123456"}, {"IT", "A0306909606100000012345"},
    {"FR", "20041010050500013M02606"}, {"MC", "11222000010123456789030"},
    {"SM", "U0322509800000000270100"}, {"GR", "01101250000000012300695"},
};

TEST(Iban, PublishedExamplesOf27CharactersAreValid) {
    for (const std::string_view iban :
         {"IT60X0542811101000000123456", "FR1420041010050500013M02606",
          "MC5811222000010123456789030", "SM86U0322509800000000270100",
          "GR1601101250000000012300695"}) {
        EXPECT_EQ(Iban(iban.substr(0, 2), iban.substr(4)), iban);  // anchors the helper
        EXPECT_TRUE(ISIBAN(iban)) << iban;
    }
}

TEST(Iban, CheckDigitsPassExactlyWhenTheyAgreeModulo97) {
    for (const Account& account : kAccounts) {
        const int right = IbanCheckDigits(account.country, account.bban);
        for (int check = 0; check <= 99; ++check) {
            const std::string iban =
                std::string(account.country) + TwoDigits(check) + std::string(account.bban);
            EXPECT_EQ(ISIBAN(iban), check % 97 == right % 97) << iban;
        }
    }
}

TEST(Iban, EverySingleDigitChangeIsCaught) {
    for (const Account& account : kAccounts) {
        const std::string iban = Iban(account.country, account.bban);
        for (std::size_t i = 4; i < iban.size(); ++i) {
            if (iban[i] >= '0' && iban[i] <= '9') {
                const char other = iban[i] == '9' ? '0' : static_cast<char>(iban[i] + 1);
                EXPECT_FALSE(ISIBAN(WithCharAt(iban, i, other))) << iban << " at " << i;
            }
        }
        EXPECT_FALSE(ISIBAN(WithCharAt(iban, 0, iban[0] == 'Z' ? 'A' : 'Z'))) << iban;
    }
}

TEST(Iban, TheItalianControlLetterIsNotChecked) {
    // Only the international check digits count: an Italian account number with a
    // wrong control letter (CIN) passes when the check digits are made for it.
    EXPECT_TRUE(ISIBAN(Iban("IT", "Q0542811101000000123456")));
}

TEST(Iban, OtherLengthsAreInvalidWhateverTheirCheckDigits) {
    EXPECT_FALSE(ISIBAN("DE89370400440532013000"));  // valid German IBAN, 22 characters
    EXPECT_FALSE(ISIBAN("GB29NWBK60161331926819"));  // valid British IBAN, 22 characters
    EXPECT_FALSE(ISIBAN(Iban("IT", "X054281110100000012345")));    // 26 characters
    EXPECT_FALSE(ISIBAN(Iban("IT", "X05428111010000001234567")));  // 28 characters
    EXPECT_FALSE(ISIBAN("IT60 X054 2811 1010 0000 0123 456"));
    EXPECT_FALSE(ISIBAN(""));
}

TEST(Iban, BlanksLowerCaseAndPunctuationInsideTheCodeFail) {
    EXPECT_FALSE(ISIBAN(" IT60X0542811101000000123456"));
    EXPECT_FALSE(ISIBAN("IT60X0542811101000000123456 "));
    EXPECT_FALSE(ISIBAN("it60x0542811101000000123456"));
    EXPECT_FALSE(ISIBAN("IT60X05428111010000001234-6"));
    EXPECT_FALSE(ISIBAN("IT60X054281110100000012345\xC8"));
}

// --- ISEMAIL ---------------------------------------------------------------------

TEST(Email, PlausibleAddressesPass) {
    for (const std::string_view address : {"mario.rossi@example.it", "o'brien@mail.ie", "a_b-c@d.e",
                                           "MARIO99@EXAMPLE.COM", "mario.rossi@example.it   "}) {
        EXPECT_TRUE(ISEMAIL(address)) << address;
    }
}

TEST(Email, TheNumberAndOrderOfAtSignsAndDotsAreNotChecked) {
    EXPECT_TRUE(ISEMAIL("mario@rossi@example.it"));
    EXPECT_TRUE(ISEMAIL("example.it@mario"));
    EXPECT_TRUE(ISEMAIL(".@"));
}

TEST(Email, AddressesEndingWithADotOrHoldingABlankFail) {
    EXPECT_FALSE(ISEMAIL("mario.rossi@example.it."));
    EXPECT_FALSE(ISEMAIL("mario.rossi@example.it.  "));
    EXPECT_FALSE(ISEMAIL("mario rossi@example.it"));
    EXPECT_FALSE(ISEMAIL(" mario.rossi@example.it"));
}

TEST(Email, AddressesWithoutAtSignOrDotOrWithOtherCharactersFail) {
    for (const std::string_view text :
         {"mario.rossi.example.it", "mario@example", "", "   ", "mario+news@example.it",
          "m\xE0rio@example.it", "mario\t@example.it", "mario,rossi@example.it"}) {
        EXPECT_FALSE(ISEMAIL(text)) << text;
    }
}

// --- ISTIME ----------------------------------------------------------------------

TEST(TimeOfDay, TheWholeDayPasses) {
    int seen = 0;
    for (int hour = 0; hour < 24; ++hour) {
        for (int minute = 0; minute < 60; ++minute) {
            for (const int second : {0, 30, 59}) {
                const std::string text =
                    TwoDigits(hour) + ":" + TwoDigits(minute) + ":" + TwoDigits(second);
                ASSERT_TRUE(ISTIME(text)) << text;
                ++seen;
            }
        }
    }
    EXPECT_EQ(seen, 24 * 60 * 3);
}

TEST(TimeOfDay, NumbersOutOfRangeFail) {
    EXPECT_FALSE(ISTIME("24:00:00"));
    EXPECT_FALSE(ISTIME("99:00:00"));
    EXPECT_FALSE(ISTIME("23:60:00"));
    EXPECT_FALSE(ISTIME("23:59:60"));
}

TEST(TimeOfDay, TheSeparatorsAreNotChecked) {
    EXPECT_TRUE(ISTIME("23.59.59"));
    EXPECT_TRUE(ISTIME("12-30-45"));
    EXPECT_TRUE(ISTIME("12x30x45"));
    EXPECT_TRUE(ISTIME("12:30:45.250"));  // nothing after the seconds is read
}

TEST(TimeOfDay, ABlankAnywhereFails) {
    EXPECT_FALSE(ISTIME(" 9:00:00"));
    EXPECT_FALSE(ISTIME("09:00:00 "));
    EXPECT_FALSE(ISTIME("09: 0:00"));
}

TEST(TimeOfDay, EveryNumberNeedsTwoDigits) {
    for (const std::string_view text :
         {"", "9:00:00", "09:00", "09:00:0", "ab:cd:ef", "-1:00:00", "09:+5:00", "09:00:5x"}) {
        EXPECT_FALSE(ISTIME(text)) << text;
    }
}

}  // namespace
}  // namespace kestrel::common
