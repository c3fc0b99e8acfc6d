// The mailed error report's address.
#include "errors/mail_report.h"

#include <gtest/gtest.h>

namespace kestrel::errors {
namespace {

constexpr std::string_view kHead = "mailto:?subject=Rapporto di errore&body=Applicazione: ";

TEST(MailReport, TheAddressHasNoRecipientAndCarriesPathEmptyLineAndText) {
    EXPECT_EQ(
        ErrorReportAddress("C:\\KESTREL\\KESTREL.EXE", "Error BASE/1;Function: MAIN  Line: 3"),
        std::string(kHead) +
            "C:\\KESTREL\\KESTREL.EXE%0d%0a%0d%0aError BASE/1%0d%0aFunction: MAIN  Line: 3");
}

TEST(MailReport, AnAmpersandInTextOrPathDoesNotStartANewQueryKey) {
    EXPECT_EQ(ErrorReportAddress("C:\\R&D\\K.EXE", "Tom & Jerry"),
              std::string(kHead) + "C:\\R%26D\\K.EXE%0d%0a%0d%0aTom %26 Jerry");
}

TEST(MailReport, APercentIsEncodedFirstSoNoEscapeIsTakenApart) {
    EXPECT_EQ(EncodeMailBody("100%"), "100%25");
    EXPECT_EQ(EncodeMailBody("%26"), "%2526");
    EXPECT_EQ(EncodeMailBody("a&;b"), "a%26%0d%0ab");
    EXPECT_EQ(EncodeMailBody("%&"), "%25%26");
}

TEST(MailReport, AHashDoesNotCutTheBody) {
    EXPECT_EQ(ErrorReportAddress("C:\\C#\\K.EXE", "File #3"),
              std::string(kHead) + "C:\\C%23\\K.EXE%0d%0a%0d%0aFile %233");
}

TEST(MailReport, EveryOtherByteIsLeftAsItIs) {
    const std::string bytes = "Perch\xe8 \"Line\": 5 <a> +?=/\\";
    EXPECT_EQ(EncodeMailBody(bytes), bytes);
}

}  // namespace
}  // namespace kestrel::errors
