// The error handler's fourteen rules, tried in order, and its final report.
#include "errors/deferror.h"

#include <gtest/gtest.h>

#include "errors/fake_error_services.h"
#include "errors/raise.h"
#include "errors/runtime.h"
#include "errors/source_frame.h"

namespace kestrel::errors {
namespace {

using testing::FakeErrorServices;

ErrorRecord FileError(int os_code, std::string file = "c:\\dati\\clienti.dbf") {
    ErrorRecord record;
    record.SUBSYSTEM = "DBFMEMO";
    record.SUBCODE = 1001;
    record.GENCODE = kGenOpen;
    record.OSCODE = os_code;
    record.DESCRIPTION = "Open error";
    record.FILENAME = std::move(file);
    return record;
}

// Runs the handler on a record that must be reported and abandoned; answers the
// message shown.
std::string AbandonMessage(const ErrorRecord& record) {
    FakeErrorServices services;
    try {
        DEFERROR(record, services);
    } catch (const Abandon& abandon) {
        EXPECT_EQ(abandon.record.OSCODE, record.OSCODE);
        EXPECT_EQ(services.trace, (std::vector<std::string>{"SUNLOCK", "POPMSG 1"}));
        return services.informed.at(0);
    }
    ADD_FAILURE() << "the handler did not abandon";
    return "";
}

TEST(DeferrorDiskAndFileRules, ShowTheirMessageWithTheNameInUpperCaseAndAbandon) {
    EXPECT_EQ(AbandonMessage(FileError(21, "a:")), "Disco A: non pronto.");
    EXPECT_EQ(AbandonMessage(FileError(27, "a:")), "Disco A: non formattato.");
    EXPECT_EQ(AbandonMessage(FileError(31, "a:")), "Disco A: non formattato.");
    EXPECT_EQ(AbandonMessage(FileError(19, "a:")), "Disco A: protetto da scrittura.");
    EXPECT_EQ(AbandonMessage(FileError(82, "c:\\dati")), "Directory C:\\DATI piena.");
    ErrorRecord full = FileError(0, "d:");
    full.SUBCODE = 2016;
    EXPECT_EQ(AbandonMessage(full), "Spazio sul disco D: insufficiente.");
    EXPECT_EQ(AbandonMessage(FileError(5)), "Impossibile accedere al file C:\\DATI\\CLIENTI.DBF.");
    EXPECT_EQ(AbandonMessage(FileError(3)), "Percorso C:\\DATI\\CLIENTI.DBF non trovato.");
    EXPECT_EQ(AbandonMessage(FileError(2)), "Impossibile aprire il file C:\\DATI\\CLIENTI.DBF.");
    ErrorRecord corrupt = FileError(0);
    corrupt.SUBCODE = 1012;
    EXPECT_EQ(AbandonMessage(corrupt), "Il file C:\\DATI\\CLIENTI.DBF risulta corrotto.");
    corrupt.SUBCODE = 1;
    corrupt.GENCODE = kGenCorruption;
    EXPECT_EQ(AbandonMessage(corrupt), "Il file C:\\DATI\\CLIENTI.DBF risulta corrotto.");
}

TEST(DeferrorDiskAndFileRules, TheEarlierRuleWinsWhenSeveralMatch) {
    ErrorRecord record = FileError(21, "a:");
    record.SUBCODE = 2016;  // rule 5 too, but rule 1 comes first
    EXPECT_EQ(AbandonMessage(record), "Disco A: non pronto.");
    record = FileError(2);
    record.SUBCODE = 1012;  // rule 9 too, but rule 8 comes first
    EXPECT_EQ(AbandonMessage(record), "Impossibile aprire il file C:\\DATI\\CLIENTI.DBF.");
}

TEST(DeferrorDiskAndFileRules, AccessDeniedOnADefaultableOpenIsReportedNotFailedSoftly) {
    ErrorRecord record = FileError(5);
    record.CANDEFAULT = true;
    FakeErrorServices services;
    EXPECT_THROW(DEFERROR(record, services), Abandon);
    EXPECT_FALSE(services.neterr);
    EXPECT_EQ(services.informed.at(0), "Impossibile accedere al file C:\\DATI\\CLIENTI.DBF.");
}

TEST(DeferrorRule10, ReportsTheFullErrorMessageAndAbandons) {
    ErrorRecord record;
    record.SUBSYSTEM = "BASE";
    record.SUBCODE = 77;
    record.GENCODE = kGenReportAndAbandon;
    record.DESCRIPTION = "Wrong value";
    const std::string message = AbandonMessage(record);
    EXPECT_EQ(message, "Error BASE/77  Wrong value;Function:   Line: 0");
}

TEST(DeferrorDivisionByZero, YieldsZeroAndShowsNothing) {
    FakeErrorServices services;
    ErrorRecord record;
    record.SUBSYSTEM = "BASE";
    record.GENCODE = kGenZeroDivide;
    const ErrorAnswer answer = DEFERROR(record, services);
    EXPECT_EQ(answer.substitute, 0.0);
    EXPECT_FALSE(answer.fail_softly);
    EXPECT_TRUE(services.trace.empty());
}

TEST(DeferrorDivisionByZero, TheRuntimeHelperGivesTheHandlersZeroBack) {
    FakeErrorServices services;
    SetErrorCallback([&](const ErrorRecord& record) { return DEFERROR(record, services); });
    EXPECT_EQ(Divide(6.0, 3.0), 2.0);
    EXPECT_EQ(Divide(6.0, 0.0), 0.0);
    EXPECT_TRUE(services.trace.empty());
    SetErrorCallback(nullptr);
}

TEST(DeferrorSoftFailures, ASharingViolationOnADefaultableOpenSetsNeterrSilently) {
    FakeErrorServices services;
    ErrorRecord record = FileError(32);
    record.CANDEFAULT = true;
    const ErrorAnswer answer = DEFERROR(record, services);
    EXPECT_TRUE(answer.fail_softly);
    EXPECT_FALSE(answer.substitute);
    EXPECT_EQ(services.trace, std::vector<std::string>{"NETERR"});
}

TEST(DeferrorSoftFailures, AnAppendLockOnADefaultableAppendSetsNeterrSilently) {
    FakeErrorServices services;
    ErrorRecord record;
    record.GENCODE = kGenAppendLock;
    record.CANDEFAULT = true;
    EXPECT_TRUE(DEFERROR(record, services).fail_softly);
    EXPECT_EQ(services.trace, std::vector<std::string>{"NETERR"});
}

TEST(DeferrorSoftFailures, TheRuntimeHelperReportsTheSoftFailureToItsCaller) {
    FakeErrorServices services;
    SetErrorCallback([&](const ErrorRecord& record) { return DEFERROR(record, services); });
    EXPECT_FALSE(FileOperationFailed("DBUSEAREA", "NET", 32, kGenOpen, true));
    EXPECT_TRUE(services.neterr);
    SetErrorCallback(nullptr);
}

// Records that only the final report takes.
std::vector<ErrorRecord> FinalReportCases() {
    std::vector<ErrorRecord> cases;
    ErrorRecord not_defaultable = FileError(32);  // rule 12 needs CANDEFAULT
    cases.push_back(not_defaultable);
    ErrorRecord open_other = FileError(4);
    open_other.CANDEFAULT = true;  // rule 12 needs the sharing violation
    cases.push_back(open_other);
    ErrorRecord append = FileError(0);
    append.GENCODE = kGenAppendLock;  // rule 13 needs CANDEFAULT
    cases.push_back(append);
    ErrorRecord framework;
    framework.SUBSYSTEM = "KESTRELUI";
    framework.SUBCODE = 2;
    cases.push_back(framework);
    return cases;
}

TEST(DeferrorFinalReport, EverythingElseAsksThenQuitsAndEndsTheProgram) {
    for (const ErrorRecord& record : FinalReportCases()) {
        FakeErrorServices services;
        EXPECT_THROW(DEFERROR(record, services), EndProgram);
        EXPECT_EQ(services.trace, (std::vector<std::string>{"SUNLOCK", "POPMSG 2", "quit"}));
        EXPECT_FALSE(services.neterr);
    }
}

TEST(DeferrorFinalReport, TheQuestionStandsAfterAnEmptyLine) {
    FakeErrorServices services;
    ErrorRecord record;
    record.SUBSYSTEM = "KESTRELUI";
    record.SUBCODE = 3;
    record.DESCRIPTION = "Cannot create Dialog Box";
    EXPECT_THROW(DEFERROR(record, services), EndProgram);
    EXPECT_EQ(services.asked.at(0),
              "Error KESTRELUI/3  Cannot create Dialog Box;Function:   Line: 0;;"
              "Inviare rapporto di errore via email?");
}

TEST(DeferrorFinalReport, OkOpensTheMailAddressBeforeQuitting) {
    FakeErrorServices services;
    services.answer_ok = true;
    services.program_path = "C:\\A&B\\KESTREL.EXE";
    ErrorRecord record;
    record.SUBSYSTEM = "BASE";
    record.SUBCODE = 1003;
    record.DESCRIPTION = "Variable does not exist";
    record.OPERATION = "R&D";
    {
        const SourceFrame frame("CALCOLA", 42);
        EXPECT_THROW(DEFERROR(record, services), EndProgram);
    }
    EXPECT_EQ(services.trace, (std::vector<std::string>{"SUNLOCK", "POPMSG 2", "shell", "quit"}));
    EXPECT_EQ(services.opened.at(0),
              "mailto:?subject=Rapporto di errore&body=Applicazione: C:\\A%26B\\KESTREL.EXE"
              "%0d%0a%0d%0aError BASE/1003  Variable does not exist: R%26D"
              "%0d%0aFunction: CALCOLA  Line: 42");
}

TEST(DeferrorFinalReport, CancelStartsNoMailProgram) {
    FakeErrorServices services;
    services.answer_ok = false;
    EXPECT_THROW(DEFERROR(ErrorRecord{}, services), EndProgram);
    EXPECT_TRUE(services.opened.empty());
    EXPECT_EQ(services.trace.back(), "quit");
}

}  // namespace
}  // namespace kestrel::errors
