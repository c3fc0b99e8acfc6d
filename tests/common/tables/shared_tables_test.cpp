// The library's shared-table routines over real table files in a temporary folder,
// with a clock, a message pump and wait windows that the tests drive and watch. The
// other workstation is a second open of the same file, which the tests hold and let
// go of from the fake's callbacks.
#include "common/tables/shared_tables.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "common/tables/shared_tables_fixture.h"

namespace kestrel::common {
namespace {

TEST_F(SharedTables, ALockReleasedWithinThreeSecondsIsTakenWithoutAWindow) {
    HoldFirstRecordElsewhere(3);  // two seconds after the first try

    DBLOCK(services, true);

    EXPECT_TRUE(Areas().Table()->RecordLocked(1));
    EXPECT_EQ(services.clock_calls, 3);
    EXPECT_TRUE(services.screen.empty());
}

TEST_F(SharedTables, ALockHeldLongerShowsTheBusyWindowThenTheNotedTextAgain) {
    HoldFirstRecordElsewhere();
    services.wait_text = "Stampa in corso...";

    DBLOCK(services, true);

    EXPECT_TRUE(Areas().Table()->RecordLocked(1));
    EXPECT_EQ(services.clock_calls, 4);                     // 1000 to 1003: three silent seconds
    EXPECT_EQ(services.pauses, (std::vector<long>{1, 2}));  // between the silent tries
    EXPECT_EQ(services.message_calls, 0);
    EXPECT_EQ(services.screen, (std::vector<std::string>{"close", "open " + kBusy, "close",
                                                         "open Stampa in corso..."}));
    EXPECT_EQ(services.wait_text, "Stampa in corso...");
}

TEST_F(SharedTables, ALockReleasedTwoAndAHalfSecondsAfterTheFirstTryShowsNoWindow) {
    HoldFirstRecordElsewhere(3);
    services.readings = {1000.9, 1002.0, 1003.4};  // the third reading: 2.5 s later

    DBLOCK(services, true);

    EXPECT_TRUE(Areas().Table()->RecordLocked(1));
    EXPECT_TRUE(services.screen.empty());
}

TEST_F(SharedTables, MidnightInsideTheSilentSecondsDoesNotCutThemShort) {
    HoldFirstRecordElsewhere(3);  // the clock reads 1: two seconds have passed
    services.readings = {86399, 0, 1, 2, 3};

    DBLOCK(services, true);

    EXPECT_TRUE(services.screen.empty());
}

TEST_F(SharedTables, MidnightInsideTheSilentSecondsDoesNotMakeThemEndless) {
    HoldFirstRecordElsewhere();
    services.readings = {86399, 0, 1, 2, 3};

    DBLOCK(services, true);

    EXPECT_EQ(services.clock_calls, 4);  // 86399, 0, 1, 2: three seconds
    EXPECT_EQ(services.screen, (std::vector<std::string>{"open " + kBusy, "close"}));
}

TEST_F(SharedTables, SecondsAreCountedAcrossMidnight) {
    EXPECT_EQ(SecondsSince(10, 13), 3);
    EXPECT_EQ(SecondsSince(5, 5), 0);
    EXPECT_EQ(SecondsSince(86399, 2), 3);
    EXPECT_EQ(SecondsSince(86000, 400), 800);
}

TEST_F(SharedTables, ATableOpenElsewhereKeepsSwitchOffOnScreenUntilItIsClosed) {
    MakeTable("CLIENTI", {"1"});
    other = OtherWorkstation("CLIENTI.DBF");
    services.on_messages = [&](int call) {
        if (call == 3) {
            other.reset();
        }
    };

    EXPECT_TRUE(DBOPEN(services, true, "", "CLIENTI", std::nullopt, false, false));

    EXPECT_TRUE(Areas().Used());
    EXPECT_EQ(services.message_calls, 3);  // before each try again
    EXPECT_EQ(services.message_pauses, (std::vector<long>{1, 2, 4}));
    EXPECT_EQ(services.screen,
              (std::vector<std::string>{"disable", "open Spegnere tutti i terminali...|Attenzione",
                                        "close", "enable"}));
}

TEST_F(SharedTables, AnHourOfWaitingForAnOpenTriesSeldomAndHandlesMessagesThroughout) {
    MakeTable("CLIENTI", {"1"});
    other = OtherWorkstation("CLIENTI.DBF");
    services.on_messages = [&](int) {
        if (services.message_pause_total >= 3'600'000) {
            other.reset();
        }
    };

    EXPECT_TRUE(DBOPEN(services, true, "", "CLIENTI", std::nullopt, false, false));

    // 1 ms doubling to 50 ms for 10 s, to 1 s for 10 minutes, then 5 s.
    EXPECT_GT(services.message_calls, 1300);
    EXPECT_LT(services.message_calls, 1500);
    EXPECT_TRUE(services.pauses.empty());
    EXPECT_EQ(OpenPauseCeiling(std::chrono::milliseconds(9'999)).count(), 50);
    EXPECT_EQ(OpenPauseCeiling(std::chrono::seconds(10)).count(), 1000);
    EXPECT_EQ(OpenPauseCeiling(std::chrono::seconds(599)).count(), 1000);
    EXPECT_EQ(OpenPauseCeiling(std::chrono::minutes(10)).count(), 5000);
}

TEST_F(SharedTables, AnAppendThatFailsGivesBackTheTableLock) {
    MakeTable("CLIENTI", {"1"});
    ASSERT_TRUE(DBOPEN(services, true, "", "CLIENTI", std::nullopt, true, /*lReadOnly=*/true));

    EXPECT_THROW(DBAPP(services), errors::Abandon);

    EXPECT_FALSE(Areas().Table()->TableLocked());
    other = OtherWorkstation("CLIENTI.DBF");
    EXPECT_TRUE(other->TryLock(kLockBase + 1, 1));
}

TEST_F(SharedTables, TheNextCodeFollowsTheLastCodeGivenAndKeepsThePlace) {
    MakeTable("VUOTA", {});
    OpenShared("VUOTA");
    EXPECT_EQ(NEXTCODE(services), "1");

    MakeTable("ULTIMO", {"41", "9999999999"});
    OpenShared("ULTIMO");
    EXPECT_EQ(NEXTCODE(services), "0");

    MakeTable("CLIENTI", {"5", "17", "", "  "});
    DbfTable& table = OpenShared("CLIENTI");
    table.GoTo(2);
    EXPECT_EQ(NEXTCODE(services), "18");
    EXPECT_EQ(table.RecNo(), 2u);
    EXPECT_TRUE(table.RecordLocked(2));
    EXPECT_FALSE(table.TableLocked());
}

TEST_F(SharedTables, TheSemaphoreIsLeftAloneWhileNobodyIsLoggedIn) {
    Areas().Select(3);
    SLOCK(services);  // no NET table exists: an attempt to open it would fail
    EXPECT_EQ(Areas().Current(), 3);
    MakeTable("NET.", {});
    Areas().Select(kSemaphoreArea);
    ASSERT_TRUE(Areas().Use(false, "", "NET.", std::nullopt, true, false));
    Areas().Select(3);

    SUNLOCK();

    Areas().Select(kSemaphoreArea);
    EXPECT_TRUE(Areas().Used());
}

TEST_F(SharedTables, TheSemaphoreIsOneRecordThatOneWorkstationHoldsAtATime) {
    Library().user_name = "MARIO   ";
    SCREATE(services);
    SCREATE(services);  // made already: left as it is
    other = OtherWorkstation("NET");
    Areas().Select(3);

    SLOCK(services);

    EXPECT_EQ(Areas().Current(), 3);
    EXPECT_FALSE(other->TryLock(kLockBase + 1, 1));
    SUNLOCK();
    EXPECT_TRUE(other->TryLock(kLockBase + 1, 1));
    ASSERT_TRUE(Areas().Use(true, "", "NET.", std::nullopt, true, true));
    EXPECT_EQ(Areas().Table()->RecCount(), 1u);
}

TEST_F(SharedTables, ASemaphoreMadeMeanwhileByAnotherWorkstationIsKept) {
    services.on_drive = [&] {  // between the check and the creation
        ASSERT_TRUE(Areas().Create("NET.", {{.name = "LOCK", .length = 1}}));
        ASSERT_TRUE(Areas().Use(true, "", "NET.", std::nullopt, false, false));
        ASSERT_TRUE(Areas().Append());
        Areas().Table()->Put("LOCK", std::string("X"));
        Areas().Close();
    };

    SCREATE(services);

    ASSERT_TRUE(Areas().Use(true, "", "NET.", std::nullopt, true, true));
    EXPECT_EQ(Areas().Table()->RecCount(), 1u);
    EXPECT_EQ(std::get<std::string>(*Areas().Table()->Get("LOCK")), "X");
}

TEST_F(SharedTables, NetUsedTellsATableHeldOpenElsewhere) {
    EXPECT_FALSE(NETUSED("MANCANTE"));
    MakeTable("CLIENTI", {});
    EXPECT_FALSE(NETUSED("CLIENTI"));
    other = OtherWorkstation("CLIENTI.DBF");
    EXPECT_TRUE(NETUSED("CLIENTI"));
}

}  // namespace
}  // namespace kestrel::common
