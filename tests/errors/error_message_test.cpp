// The error report's text, and the call-chain frames that name its routine.
#include "errors/error_message.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "errors/raise.h"
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
    record.FILENAME = " \t\r\n";  // a blank file name counts as none
    EXPECT_EQ(ERRORMESSAGE(record),
              "Error BASE/1003  Variable does not exist: TOTALE;Function:   Line: 0");
    record.OPERATION = "  ";  // and a blank operation too
    EXPECT_EQ(ERRORMESSAGE(record), "Error BASE/1003  Variable does not exist;Function:   Line: 0");
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

// Two routines of an application: OUTER runs a statement that goes well, then calls
// INNER, whose second statement fails. The calls hand on the lines they are made
// from, for the test to know them.
struct CallLines {
    int outer_call = 0;
    int inner_failure = 0;
};

void GoesWell() {}

void Fails(const ErrorRecord& record, int line, CallLines& lines) {
    lines.inner_failure = line;
    RaiseError(record);
}

void INNER(const ErrorRecord& record, int called_from, CallLines& lines) {
    KESTREL_FRAME("INNER");
    lines.outer_call = called_from;
    KESTREL_AT_LINE(GoesWell());
    KESTREL_AT_LINE(Fails(record, __LINE__, lines));
}

void OUTER(const ErrorRecord& record, CallLines& lines) {
    KESTREL_FRAME("OUTER");
    KESTREL_AT_LINE(GoesWell());
    KESTREL_AT_LINE(INNER(record, __LINE__, lines));
}

// The report of an error raised two routines deep.
std::string ReportTwoLevelsDeep(const ErrorRecord& record, CallLines& lines) {
    std::string report;
    SetErrorCallback([&report](const ErrorRecord& raised) {
        report = ERRORMESSAGE(raised);
        return ErrorAnswer{};
    });
    OUTER(record, lines);
    SetErrorCallback(nullptr);
    return report;
}

TEST(ErrorMessage, GivesTheFailingStatementsLineAndForTheCallerTheLineOfItsCall) {
    CallLines lines;
    const std::string report = ReportTwoLevelsDeep(Record(), lines);
    EXPECT_EQ(report, "Error BASE/1003  Variable does not exist;Function: INNER  Line: " +
                          std::to_string(lines.inner_failure));
    ErrorRecord table_error = Record();
    table_error.SUBSYSTEM = "DBCMD";
    table_error.SUBCODE = 2001;
    table_error.DESCRIPTION = "Workarea not in use";
    const std::string table_report = ReportTwoLevelsDeep(table_error, lines);
    EXPECT_EQ(table_report, "Error DBCMD/2001  Workarea not in use;Function: OUTER  Line: " +
                                std::to_string(lines.outer_call));
}

TEST(SourceFrames, AMarkedStatementHoldsItsLineOnlyWhileItRuns) {
    KESTREL_FRAME("MAIN");
    const int first_line = InnermostRoutine().line;
    int line_while_running = 0;
    KESTREL_AT_LINE(line_while_running = InnermostRoutine().line);
    EXPECT_GT(line_while_running, first_line);
    EXPECT_EQ(InnermostRoutine().line, first_line);
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
