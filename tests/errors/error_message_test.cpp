// The error report's text, and the call-chain frames that name its routine.
#include "errors/error_message.h"

#include <gtest/gtest.h>

#include <thread>

#include "errors/source_frame.h"

namespace kestrel::errors {
namespace {

ErrorRecord Record() {
    ErrorRecord record;
    record.SEVERITY = 2;
    record.SUBSYSTEM = "BASE";
    record.SUBCODE = 1003;
    record.DESCRIPTION = "Variable does not exist";
    return record;
}

TEST(ErrorMessage, AnErrorWithNoFileNorOperationAndNoRoutine) {
    EXPECT_EQ(ERRORMESSAGE(Record()),
              "Error BASE/1003  Variable does not exist;Function:   Line: 0");
}

TEST(ErrorMessage, AWarningSaysWarning) {
    ErrorRecord record = Record();
    record.SEVERITY = 1;
    EXPECT_EQ(ERRORMESSAGE(record).substr(0, 17), "Warning BASE/1003");
}

TEST(ErrorMessage, MissingSubsystemSubcodeAndDescriptionShowAsQuestionMarksOrNothing) {
    ErrorRecord record = Record();
    record.SUBSYSTEM.reset();
    record.SUBCODE.reset();
    record.DESCRIPTION.reset();
    EXPECT_EQ(ERRORMESSAGE(record),
              "Error ???"
              "/???;Function:   Line: 0");
}

TEST(ErrorMessage, TheFileNameFollowsTheDescriptionAndWinsOverTheOperation) {
    ErrorRecord record = Record();
    record.FILENAME = "CLIENTI.DBF";
    record.OPERATION = "DBUSEAREA";
    EXPECT_EQ(ERRORMESSAGE(record),
              "Error BASE/1003  Variable does not exist: CLIENTI.DBF;Function:   Line: 0");
}

TEST(ErrorMessage, WithNoFileNameTheOperationFollows) {
    ErrorRecord record = Record();
    record.OPERATION = "TOTALE";
    EXPECT_EQ(ERRORMESSAGE(record),
              "Error BASE/1003  Variable does not exist: TOTALE;Function:   Line: 0");
}

TEST(ErrorMessage, NamesTheInnermostRoutineThatCarriesAFrame) {
    const SourceFrame outer("MAIN", 10);
    const SourceFrame inner("KESTREL", 25);
    EXPECT_EQ(ERRORMESSAGE(Record()),
              "Error BASE/1003  Variable does not exist;Function: KESTREL  Line: 25");
}

TEST(ErrorMessage, ATableLayerErrorPassesOverTheInnermostRoutine) {
    ErrorRecord record = Record();
    record.SUBSYSTEM = "DBCMD";
    record.SUBCODE = 2001;
    record.DESCRIPTION = "Workarea not in use";
    const SourceFrame outer("MAIN", 10);
    SourceFrame inner("APRI", 25);
    inner.At(31);
    EXPECT_EQ(ERRORMESSAGE(record),
              "Error DBCMD/2001  Workarea not in use;Function: MAIN  Line: 10");
    record.SUBSYSTEM = "BASE";
    EXPECT_EQ(ERRORMESSAGE(record),
              "Error BASE/2001  Workarea not in use;Function: APRI  Line: 31");
}

TEST(SourceFrames, EndInReverseOrderAndBelongToTheirThread) {
    {
        const SourceFrame outer("MAIN", 10);
        {
            const SourceFrame inner("KESTREL", 25);
            EXPECT_EQ(InnermostRoutine().name, "KESTREL");
            EXPECT_EQ(InnermostRoutine(1).name, "MAIN");
            EXPECT_EQ(InnermostRoutine(2).name, "");
            std::string seen_elsewhere = "unset";
            std::thread([&] { seen_elsewhere = InnermostRoutine().name; }).join();
            EXPECT_EQ(seen_elsewhere, "");
        }
        EXPECT_EQ(InnermostRoutine().name, "MAIN");
        EXPECT_EQ(InnermostRoutine().line, 10);
    }
    EXPECT_EQ(InnermostRoutine().name, "");
    EXPECT_EQ(InnermostRoutine().line, 0);
}

TEST(SourceFrames, AreLeftBehindByAnExceptionThatUnwindsThem) {
    const SourceFrame outer("MAIN", 10);
    try {
        const SourceFrame inner("KESTREL", 25);
        throw 1;
    } catch (int) {
    }
    EXPECT_EQ(InnermostRoutine().name, "MAIN");
}

}  // namespace
}  // namespace kestrel::errors
