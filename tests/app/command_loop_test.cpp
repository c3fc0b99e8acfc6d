#include "app/command_loop.h"

#include <gtest/gtest.h>

#include <set>

#include "errors/source_frame.h"
#include "support/fake_session.h"
#include "support/hex.h"
#include "support/tape_builder.h"

namespace kestrel::app {
namespace {

using testing::Bytes;
using testing::EntryFields;
using testing::FakeSession;
using testing::Hex;
using testing::TapEntry;
using testing::WireHeader;
using Timeline = std::vector<std::string>;

constexpr serial::PortHandle kPort = 3;
const std::string kWaiting = "log Waiting command (ESC to exit)...";

// One session of the command loop against a scripted remote machine and keyboard.
struct Session {
    TapeImage tape;
    ReceiveBuffer received;
    FakeSession fake{received};
    CommandLoop loop{fake.Services(), tape, received};

    explicit Session(std::string image = {}) : tape(std::move(image)) {}
    void Run() { loop.KESTREL(kPort, fake); }
    std::string Wire() const { return fake.Wire(); }
};

// The bytes of one complete answer to "B".
std::string Answer(const EntryFields& spec) {
    return '\0' + WireHeader(spec) + spec.data;
}

const std::string kEnd = "\x09";

TEST(CommandLoopWorkedExample, OneEntryThenTheEndByteByteForByte) {
    // A 30-byte image: header block 13 00 | 00 | 00 HELLO..... 05 00 0A 00 05 00 | sum,
    // data block 07 00 | FF | 01 02 03 04 05 | sum.
    std::string image = Bytes({0x13, 0x00, 0x00, 0x00}) + "HELLO     " +
                        Bytes({0x05, 0x00, 0x0A, 0x00, 0x05, 0x00, 0x5A}) +
                        Bytes({0x07, 0x00, 0xFF, 0x01, 0x02, 0x03, 0x04, 0x05, 0xEE});
    ASSERT_EQ(image.size(), 30u);
    Session s(image);
    s.fake.ArriveAtRefresh(1, "B");
    s.fake.ArriveAtRefresh(5, "B");
    s.Run();

    EXPECT_EQ(s.fake.Timeline(), (Timeline{
                                     kWaiting,
                                     "log Sending file HELLO...",
                                     "write 00",
                                     "sleep 10",
                                     "write 0048454C4C4F20202020200500"
                                     "0A000500",
                                     "sleep 10",
                                     "write 0102030405",
                                     "write 09",
                                     "end",
                                 }));
    EXPECT_EQ(s.fake.seen_port, kPort);
    EXPECT_EQ(s.fake.LogText(), "Waiting command (ESC to exit)...\r\nSending file HELLO...\r\n");
    EXPECT_TRUE(s.tape.Remaining().empty());
}

TEST(CommandLoopServing, ThreeRequestsOnATwoFileTapeGetTwoEntriesAndTheEndByte) {
    EntryFields first{.type = 0, .name = "PROG", .data = "10 PRINT"};
    EntryFields second{.type = 3, .name = "DATA", .data = std::string(100, '\x7F'), .param1 = 9};
    Session s(TapEntry(first) + TapEntry(second));
    s.fake.ArriveAtRefresh(1, "BBB");
    s.Run();
    EXPECT_EQ(s.Wire(), Answer(first) + Answer(second) + kEnd);
    EXPECT_EQ(s.fake.EndRequests(), 1);
    EXPECT_EQ(s.fake.LogText(),
              "Waiting command (ESC to exit)...\r\n"
              "Sending file PROG...\r\n"
              "Sending file DATA...\r\n");
}

TEST(CommandLoopServing, OtherBytesAreDroppedAndTheComparisonIsCaseSensitive) {
    EntryFields only{.name = "ONLY", .data = "x"};
    Session s(TapEntry(only));
    s.fake.ArriveAtRefresh(1, "XYb");
    s.fake.ArriveAtRefresh(2, "B");
    s.fake.HoldEscWhenIdle();
    s.Run();
    EXPECT_EQ(s.Wire(), Answer(only) + kEnd);  // the end byte here comes from Esc
    EXPECT_EQ(s.fake.EndRequests(), 0);
}

TEST(CommandLoopServing, TwoQuickRequestsAreServedOneAfterTheOther) {
    EntryFields first{.name = "ONE", .data = "111"};
    EntryFields second{.name = "TWO", .data = "22"};
    Session s(TapEntry(first) + TapEntry(second) + TapEntry({.name = "THREE"}));
    s.fake.ArriveAtRefresh(1, "BB");
    s.fake.HoldEscWhenIdle();
    s.Run();
    EXPECT_EQ(s.Wire(), Answer(first) + Answer(second) + kEnd);
    // The second entry's start byte follows the first entry's data.
    const Timeline& t = s.fake.Timeline();
    auto data = std::find(t.begin(), t.end(), "write " + Hex("111"));
    ASSERT_NE(data, t.end());
    EXPECT_EQ(*(data + 1), "log Sending file TWO...");
    EXPECT_EQ(*(data + 2), "write 00");
}

TEST(CommandLoopServing, BytesArrivingWhileABlockGoesOutAreServedInOrder) {
    Session s(TapEntry({.name = "A"}) + TapEntry({.name = "B"}));
    s.fake.ArriveAtRefresh(1, "B");
    s.fake.ArriveAtRefresh(2, "xB");  // lands at the wait that follows the first block
    s.fake.ArriveAtRefresh(3, "B");
    s.Run();
    EXPECT_EQ(s.Wire(), Answer({.name = "A"}) + Answer({.name = "B"}) + kEnd);
    EXPECT_EQ(s.fake.EndRequests(), 1);
}

TEST(CommandLoopServing, NoiseIsDroppedInBulkAndEveryBIsServedInOrder) {
    EntryFields first{.name = "ONE", .data = "1"};
    EntryFields second{.name = "TWO", .data = "2"};
    Session s(TapEntry(first) + TapEntry(second));
    std::string noise(40000, 'x');
    noise[123] = 'b';  // lower case: noise too
    s.fake.ArriveAtRefresh(1, noise + "B" + noise + noise);
    s.fake.ArriveAtRefresh(2, noise + "B" + noise);
    s.fake.HoldEscWhenIdle();
    s.Run();
    EXPECT_EQ(s.Wire(), Answer(first) + Answer(second) + kEnd);
    // A pump pass per batch of received bytes, not one per byte.
    EXPECT_LT(s.fake.Refreshes(), 20);
}

TEST(CommandLoopServing, RequestsArrivingDuringAWriteAreServedAfterTheEntryInOrder) {
    EntryFields first{.name = "ONE", .data = std::string(20000, '1')};
    EntryFields second{.name = "TWO", .data = "2"};
    Session s(TapEntry(first) + TapEntry(second) + TapEntry({.name = "THREE"}));
    s.fake.PumpWhileWriting(1);
    s.fake.ArriveAtRefresh(1, "B");
    s.fake.ArriveAtRefresh(4, "zB");  // while the first entry's header goes out
    s.fake.ArriveAtRefresh(10, "B");  // while its data goes out
    s.fake.HoldEscWhenIdle();
    s.Run();
    EXPECT_EQ(s.Wire(), Answer(first) + Answer(second) + Answer({.name = "THREE"}) + kEnd);
}

TEST(CommandLoopServing, AnEntryWithNoDataSendsStartPauseHeaderPauseAndNothingMore) {
    EntryFields empty{.type = 1, .name = "NODATA", .param1 = 5, .param2 = 6};
    Session s(TapEntry(empty) + TapEntry({}));
    s.fake.ArriveAtRefresh(1, "B");
    s.fake.HoldEscWhenIdle();
    s.Run();
    const Timeline& t = s.fake.Timeline();
    ASSERT_GE(t.size(), 7u);
    EXPECT_EQ(Timeline(t.begin() + 1, t.begin() + 6),
              (Timeline{"log Sending file NODATA...", "write 00", "sleep 10",
                        "write 01" + Hex("NODATA    ") + "000005000600", "sleep 10"}));
    EXPECT_EQ(t[6], "write 09");  // from Esc: no empty data write in between
}

TEST(CommandLoopServing, ParametersOf32768GoOutLowByteFirst) {
    EntryFields spec{
        .type = 3, .name = "HELLO", .data = "\x01\x02", .param1 = 32768, .param2 = 32768};
    std::string image = TapEntry(spec) + TapEntry({.name = "REST"});
    Session s(image);
    s.fake.ArriveAtRefresh(1, "B");
    s.fake.HoldEscWhenIdle();
    s.Run();
    EXPECT_EQ(s.Wire(), Bytes({0x00, 0x03}) + "HELLO     " +
                            Bytes({0x02, 0x00, 0x00, 0x80, 0x00, 0x80, 0x01, 0x02}) + kEnd);
    EXPECT_EQ(s.tape.Remaining(), std::string_view(image).substr(27));
}

TEST(CommandLoopServing, AnEmptyTapeAnswersTheFirstRequestWithTheEndByte) {
    Session s;
    s.fake.ArriveAtRefresh(1, "B");
    s.Run();
    EXPECT_EQ(s.fake.Timeline(), (Timeline{kWaiting, "write 09", "end"}));
}

TEST(CommandLoopServing, ARefusedWindowEndStillEndsTheLoop) {
    // The fake never closes anything: the end request is made once and the loop returns.
    Session s;
    s.fake.ArriveAtRefresh(1, "BBBB");
    s.Run();
    EXPECT_EQ(s.Wire(), kEnd);
    EXPECT_EQ(s.fake.EndRequests(), 1);
    EXPECT_EQ(s.received.size(), 3u);  // the loop took nothing after the end
}

// A front end's choice, scripted: each request gets the entry at the next offset.
struct ScriptedChooser : EntryChooser {
    std::vector<std::size_t> fronts;
    void BeforeNextEntry(TapeImage& tape) override {
        tape.MoveTo(fronts.front());
        fronts.erase(fronts.begin());
    }
};

TEST(CommandLoopChooser, EachRequestGetsTheEntryTheFrontEndPutAtTheFront) {
    EntryFields first{.name = "ONE", .data = "1"};
    EntryFields second{.name = "TWO", .data = "22"};
    const std::string image = TapEntry(first) + TapEntry(second);
    ScriptedChooser chooser;
    // The second entry, the first again, then the end of the tape: the end byte.
    chooser.fronts = {TapEntry(first).size(), 0, image.size()};
    TapeImage tape(image);
    ReceiveBuffer received;
    FakeSession fake{received};
    SessionServices services = fake.Services();
    services.chooser = &chooser;
    CommandLoop loop{services, tape, received};
    fake.ArriveAtRefresh(1, "BBB");
    loop.KESTREL(kPort, fake);
    EXPECT_EQ(fake.Wire(), Answer(second) + Answer(first) + kEnd);
    EXPECT_EQ(fake.EndRequests(), 1);
    EXPECT_TRUE(chooser.fronts.empty());
}

TEST(CommandLoopLogName, TrailingBlanksGoAndLeadingWhitespaceGoes) {
    EXPECT_EQ(LogName("HELLO     "), "HELLO");
    EXPECT_EQ(LogName("  \t\r\nHI  "), "HI");
    // Only blanks are trimmed at the end: a trailing tab or line end stays, shown as
    // "." so that the log line stays one line.
    EXPECT_EQ(LogName("\tA B \t  "), "A B .");
    EXPECT_EQ(LogName("X\r\n  "), "X..");
    EXPECT_EQ(LogName("          "), "");
    EXPECT_EQ(LogName(""), "");
}

TEST(CommandLoopLogName, ControlBytesInANameShowAsDotsAndNothingAfterThemIsLost) {
    EntryFields spec{.name = std::string("AB\0C\x1b\x7f"
                                         "D",
                                         7)};
    Session s(TapEntry(spec) + TapEntry({.name = "NEXT"}));
    s.fake.ArriveAtRefresh(1, "BB");
    s.fake.HoldEscWhenIdle();
    s.Run();
    EXPECT_EQ(s.fake.LogText(),
              "Waiting command (ESC to exit)...\r\nSending file AB.C..D...\r\n"
              "Sending file NEXT...\r\n");
    EXPECT_EQ(s.Wire().substr(2, 10), std::string("AB\0C\x1b\x7f"
                                                  "D   ",
                                                  10));
}

TEST(CommandLoopLogName, TheLogLineShowsTheTrimmedNameButTheWireCarriesAllTenBytes) {
    EntryFields spec{.name = " \tHELLO"};
    Session s(TapEntry(spec));
    s.fake.ArriveAtRefresh(1, "B");
    s.fake.HoldEscWhenIdle();
    s.Run();
    EXPECT_NE(s.fake.LogText().find("Sending file HELLO...\r\n"), std::string::npos);
    EXPECT_EQ(s.Wire().substr(2, 10), " \tHELLO   ");
}

TEST(CommandLoopEsc, HeldWhenTheLoopStartsNothingIsLoggedOrSent) {
    Session s(TapEntry({}));
    s.fake.EscAnswers({true});
    s.fake.ArriveAtRefresh(1, "B");
    s.Run();
    EXPECT_TRUE(s.fake.Timeline().empty());
    EXPECT_EQ(s.received.size(), 0u);  // never pumped, so the B never even arrived
}

TEST(CommandLoopEsc, HeldWhileWaitingSendsTheEndByteAndStopsWithoutEndingTheWindow) {
    Session s(TapEntry({}));
    s.fake.HoldEscFromRefresh(3);
    s.Run();
    EXPECT_EQ(s.fake.Timeline(), (Timeline{kWaiting, "write 09"}));
    EXPECT_EQ(s.fake.EndRequests(), 0);
}

TEST(CommandLoopEsc, NoByteIsTakenInAPassWhereEscIsHeld) {
    Session s(TapEntry({}));
    s.fake.ArriveAtRefresh(1, "B");
    s.fake.HoldEscFromRefresh(1);  // the B has arrived, but Esc is down before it is taken
    s.Run();
    EXPECT_EQ(s.Wire(), kEnd);
    EXPECT_EQ(s.received.size(), 1u);
}

TEST(CommandLoopEsc, ReleasedRightAfterTheEndByteLogsWaitingAgainAndServesFromTheSamePlace) {
    EntryFields first{.name = "FIRST", .data = "1"};
    Session s(TapEntry(first) + TapEntry({.name = "SECOND"}));
    // Polls: outer test (up), wait test (down), step 2 (down), outer test (up), ...
    s.fake.EscAnswers({false, true, true, false});
    s.fake.ArriveAtRefresh(2, "B");
    s.fake.HoldEscWhenIdle();
    s.Run();
    const Timeline& t = s.fake.Timeline();
    ASSERT_GE(t.size(), 4u);
    EXPECT_EQ(Timeline(t.begin(), t.begin() + 4),
              (Timeline{kWaiting, "write 09", kWaiting, "log Sending file FIRST..."}));
    EXPECT_EQ(s.Wire(), kEnd + Answer(first) + kEnd);
}

TEST(CommandLoopEsc, ReleasedBeforeTheLoopsOwnTestSendsNothingAndWaitingGoesOn) {
    Session s(TapEntry({.name = "KEPT"}));
    // Polls: outer test (up), wait test (down: the wait stops), step 2 (up again).
    s.fake.EscAnswers({false, true, false});
    s.fake.ArriveAtRefresh(3, "B");
    s.fake.HoldEscWhenIdle();
    s.Run();
    const Timeline& t = s.fake.Timeline();
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[0], kWaiting);
    EXPECT_EQ(t[1], "log Sending file KEPT...");  // no end byte, no second waiting line
}

TEST(CommandLoopEsc, PressedWhileAnEntryGoesOutTakesEffectAfterTheWholeEntry) {
    EntryFields big{.name = "BIG", .data = std::string(40000, 'q')};
    Session s(TapEntry(big) + TapEntry({.name = "NEXT"}));
    s.fake.PumpWhileWriting(1);
    s.fake.ArriveAtRefresh(1, "B");
    s.fake.HoldEscFromRefresh(5);  // during the header
    s.fake.EndWindowAtRefresh(6);  // the Esc key message ends the window
    s.fake.ArriveAtRefresh(7, "B");
    s.Run();
    EXPECT_EQ(s.Wire(), Answer(big) + kEnd);
}

TEST(CommandLoopEsc, AWriteOnALineThatStoppedReadingIsGivenUpAndNothingMoreIsWritten) {
    EntryFields big{.name = "BIG", .data = std::string(40000, 'q')};
    Session s(TapEntry(big));
    s.fake.ArriveAtRefresh(1, "B");
    s.fake.StallWritesFrom(4);  // the second piece of data never goes out
    s.fake.HoldEscFromRefresh(4);
    s.Run();
    // Everything up to the stalled piece went out; after it nothing, not even the
    // end byte, is tried on the dead line.
    EXPECT_EQ(s.Wire(), Answer(big).substr(0, 1 + 17 + 16384));
    EXPECT_EQ(s.fake.Timeline().back().rfind("given up ", 0), 0u);
    EXPECT_EQ(s.fake.EndRequests(), 0);
}

TEST(CommandLoopEsc, AfterAWriteGivenUpWhileEscWasHeldAReleasedEscLetsLaterEntriesOut) {
    // F4 held (the end request is refused) and Esc held while an entry's data stalls;
    // Esc is released before the loop's own test, so the session goes on.
    EntryFields big{.name = "BIG", .data = std::string(40000, 'q')};
    EntryFields next{.name = "NEXT", .data = "n"};
    Session s(TapEntry(big) + TapEntry(next));
    s.fake.ArriveAtRefresh(1, "B");
    s.fake.StallWritesFrom(3, 1);     // the first piece of data
    s.fake.HoldEscFromRefresh(3, 4);  // seen by the stalled write: it is given up
    s.fake.ArriveAtRefresh(6, "B");
    s.fake.ArriveAtRefresh(8, "B");
    s.Run();
    // The rest of the stalled entry is dropped while Esc is down; the next entry and
    // the end byte go out once it is up.
    EXPECT_EQ(s.Wire(), Answer(big).substr(0, 1 + 17) + Answer(next) + kEnd);
    EXPECT_EQ(s.fake.EndRequests(), 1);
}

TEST(SendStr, OnlyAWriteGivenUpStallsTheLineAndACompletedWriteClearsIt) {
    Session s;
    s.fake.RefuseWrite(1);  // refused at once while Esc is held: not a stalled line
    s.fake.EscAnswers({true});
    s.loop.SENDSTR(kPort, "a");
    s.loop.SENDSTR(kPort, "b");
    EXPECT_EQ(s.Wire(), "b");

    s.fake.StallWritesFrom(3, 1);
    s.fake.HoldEscFromRefresh(1, 2);
    s.loop.SENDSTR(kPort, "c");  // given up when the stalled write sees Esc held
    s.loop.SENDSTR(kPort, "d");  // Esc still held: not tried
    s.fake.SysRefresh();         // Esc released
    s.loop.SENDSTR(kPort, "e");
    s.fake.EscAnswers({true, true});
    s.loop.SENDSTR(kPort, "f");  // the line took "e": tried although Esc is held
    EXPECT_EQ(s.Wire(), "bef");
}

TEST(StalledWrite, GoesOnForTheStallTimeAfterTheCallerFirstSaysStopThenGivesUp) {
    using Clock = StalledWriteRule::Clock;
    Clock::time_point now{};
    bool caller_goes_on = true;
    const PortWriter::Waiting waiting = [&] { return caller_goes_on; };
    StalledWriteRule rule(waiting, [&] { return now; });
    EXPECT_TRUE(rule.GoOn());
    caller_goes_on = false;
    EXPECT_TRUE(rule.GoOn());
    now += kStalledWrite - std::chrono::milliseconds(1);
    EXPECT_TRUE(rule.GoOn());
    caller_goes_on = true;  // a yes in between starts over
    EXPECT_TRUE(rule.GoOn());
    caller_goes_on = false;
    now += std::chrono::milliseconds(2);
    EXPECT_TRUE(rule.GoOn());
    EXPECT_FALSE(rule.GaveUp());
    now += kStalledWrite;
    EXPECT_FALSE(rule.GoOn());
    EXPECT_TRUE(rule.GaveUp());
}

TEST(CommandLoopLog, ABurstServedWithF4HeldShowsEveryLineInTheWindowThatStaysOpen) {
    // "BBB" in one go on a two-entry tape: two entries, the end byte and a refused end
    // request, with no quiet moment in between: the log still shows both lines.
    Session s(TapEntry({.name = "ONE"}) + TapEntry({.name = "TWO"}));
    s.fake.RecordShows();
    s.fake.ArriveAtRefresh(1, "BBB");
    s.Run();
    EXPECT_EQ(s.Wire(), Answer({.name = "ONE"}) + Answer({.name = "TWO"}) + kEnd);
    EXPECT_EQ(s.fake.Timeline().back(), "show");
    EXPECT_EQ(s.fake.ShownLog(),
              "Waiting command (ESC to exit)...\r\nSending file ONE...\r\nSending file TWO...\r\n");
}

TEST(CommandLoopLog, ARequestThatFollowsAnAnswerAtOnceIsServedBeforeTheLogCatchesUp) {
    Session s(TapEntry({.name = "ONE", .data = "1"}) + TapEntry({.name = "TWO", .data = "2"}));
    s.fake.RecordShows();
    s.fake.ArriveAtRefresh(1, "B");
    s.fake.ArriveAtRefresh(3, "B");  // comes during the short look after the first answer
    s.fake.HoldEscWhenIdle();
    s.Run();
    const Timeline& t = s.fake.Timeline();
    const auto second = std::find(t.begin(), t.end(), "log Sending file TWO...");
    ASSERT_NE(second, t.end());
    EXPECT_EQ(std::find(t.begin(), second, "show"), second);  // no redraw before it
    // Once the line is quiet, the log catches up before the wait sleeps.
    const auto shown = std::find(second, t.end(), "show");
    ASSERT_NE(shown, t.end());
    EXPECT_EQ(*(shown - 1), "write " + Hex("2"));
}

TEST(CommandLoopLog, UnderASteadyStreamTheLogCatchesUpEveryFiftyPasses) {
    Session s(TapEntry({.name = "ONE"}) + TapEntry({.name = "TWO"}) + TapEntry({.name = "END"}));
    s.fake.RecordShows();
    constexpr int kEvery = kLogCatchUpPasses + 10;
    for (int refresh = 1; refresh <= 3 * kEvery; ++refresh) {
        // The line is never quiet: noise at every pass, a request now and then.
        s.fake.ArriveAtRefresh(refresh, refresh % kEvery == 1 ? "B" : "x");
    }
    s.fake.HoldEscWhenIdle();
    s.Run();
    // Each entry's line shows before the next request comes.
    const Timeline& t = s.fake.Timeline();
    for (const char* name : {"ONE", "TWO"}) {
        const auto line =
            std::find(t.begin(), t.end(), std::string("log Sending file ") + name + "...");
        ASSERT_NE(line, t.end()) << name;
        const auto next_line = std::find_if(
            line + 1, t.end(), [](const std::string& event) { return event.starts_with("log "); });
        EXPECT_NE(std::find(line, next_line, "show"), next_line) << name;
    }
}

TEST(CommandLoopWindowEnded, EndedFromOutsideTheLoopStopsItWithTheEndByte) {
    // A quick Esc tap (or a close request) ends the window while the loop never saw
    // Esc held: the loop must not live on without its window.
    Session s(TapEntry({.name = "ONE"}) + TapEntry({.name = "TWO"}));
    s.fake.ArriveAtRefresh(1, "B");
    s.fake.EndWindowAtRefresh(3);
    s.fake.ArriveAtRefresh(4, "B");
    s.Run();
    EXPECT_EQ(s.Wire(), Answer({.name = "ONE"}) + kEnd);
    EXPECT_EQ(s.fake.EndRequests(), 0);
}

TEST(CommandLoopWindowEnded, AfterEscsEndByteNoSecondEndByteIsSent) {
    Session s(TapEntry({}));
    // Esc is seen at the wait and at step 2 (end byte), released at the outer test;
    // meanwhile its key message has ended the window.
    s.fake.EscAnswers({false, true, true, false});
    s.fake.EndWindowAtRefresh(1);
    s.Run();
    EXPECT_EQ(s.Wire(), kEnd);
}

TEST(CommandLoopWindowEnded, AnAcceptedEndAtTheEndOfTheTapeSendsOneEndByte) {
    Session s;
    s.fake.AcceptEndRequests();
    s.fake.ArriveAtRefresh(1, "BB");
    s.Run();
    EXPECT_EQ(s.Wire(), kEnd);
    EXPECT_EQ(s.fake.EndRequests(), 1);
}

TEST(CommandLoopWaiting, TheWaitSleepsForMessagesBetweenPassesAndStillSeesEscSoon) {
    Session s(TapEntry({}));
    s.fake.HoldEscFromRefresh(50);
    s.Run();
    EXPECT_GE(s.fake.Waits(), 40);
    EXPECT_LE(s.fake.LongestWaitMs(), kIdleWaitMs);  // Esc is polled at least this often
    EXPECT_EQ(s.Wire(), kEnd);
}

TEST(CommandLoopWaiting, AFrontEndWhoseKeysAreMessagesLetsTheWaitSleepUntilOne) {
    TapeImage tape(TapEntry({}));
    ReceiveBuffer received;
    FakeSession fake(received);
    SessionServices services = fake.Services();
    services.idle_wait_ms = kWaitForMessageOnly;
    CommandLoop loop(services, tape, received);
    fake.HoldEscFromRefresh(5);
    loop.KESTREL(kPort, fake);
    // Every wait was given kWaitForMessageOnly (-1), no time limit, but for the short
    // looks before the log caught up with the waiting line.
    EXPECT_GE(fake.Waits(), 3);
    for (int timeout : fake.WaitTimeouts()) {
        EXPECT_TRUE(timeout == kWaitForMessageOnly || timeout == kLogQuietLookMs) << timeout;
    }
    EXPECT_EQ(fake.WaitTimeouts().back(), kWaitForMessageOnly);
    EXPECT_EQ(fake.Wire(), kEnd);
}

TEST(ForegroundEscKeys, EscCountsOnlyWhileTheSessionWindowIsInFront) {
    ReceiveBuffer unused;
    FakeSession keys(unused);
    keys.EscAnswers({true, true, false});
    bool in_front = false;
    int asked_in_front = 0;
    ForegroundEsc esc(keys, [&] {
        ++asked_in_front;
        return in_front;
    });
    EXPECT_FALSE(esc.IsHeld(27));  // Esc in another program: ignored
    in_front = true;
    EXPECT_TRUE(esc.IsHeld(27));
    EXPECT_EQ(asked_in_front, 2);
    EXPECT_FALSE(esc.IsHeld(27));  // not held: the window in front is not asked about
    EXPECT_EQ(asked_in_front, 2);
}

TEST(SendStr, WritesAreAtMost16384BytesEachInOrder) {
    struct Case {
        std::size_t length;
        std::vector<std::size_t> writes;
    };
    for (const Case& c :
         {Case{0, {}}, Case{1, {1}}, Case{16384, {16384}}, Case{16385, {16384, 1}},
          Case{40000, {16384, 16384, 7232}}, Case{65535, {16384, 16384, 16384, 16383}}}) {
        Session s;
        std::string bytes(c.length, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(i * 7 + i / 256);
        }
        s.loop.SENDSTR(kPort, bytes);
        EXPECT_EQ(s.fake.WriteSizes(), c.writes) << c.length;
        EXPECT_EQ(s.Wire(), bytes) << c.length;
    }
}

TEST(SendStr, ABlockOf16385DataBytesGoesOutAsTwoWritesAfterTheSecondPause) {
    EntryFields big{.name = "BIG", .data = std::string(16385, 'q')};
    Session s(TapEntry(big));
    s.fake.ArriveAtRefresh(1, "B");
    s.fake.HoldEscWhenIdle();
    s.Run();
    EXPECT_EQ(s.fake.WriteSizes(), (std::vector<std::size_t>{1, 17, 16384, 1, 1}));
    EXPECT_EQ(s.fake.Timeline()[5], "sleep 10");
}

TEST(Message, AppendsALineWithCrLfAndKeepsWhatWasThere) {
    ReceiveBuffer unused;
    FakeSession log(unused);
    MESSAGE(log, "one");
    MESSAGE(log, "");
    MESSAGE(log, "three");
    EXPECT_EQ(log.LogText(), "one\r\n\r\nthree\r\n");
}

TEST(WaitCommand, PumpsOnceMoreAfterTakingAByteSoPendingMessagesAreHandledBeforeTheAnswer) {
    Session s;
    s.fake.ArriveAtRefresh(1, "B");
    s.fake.ArriveAtRefresh(2, "X");
    EXPECT_EQ(s.loop.WAITCOMMAND(), 'B');
    EXPECT_EQ(s.received.TakeFront(), 'X');
}

TEST(WaitCommand, EscHeldAtTheFirstTestReturnsNothingAndTakesNothing) {
    Session s;
    s.received.Append("B");
    s.fake.EscAnswers({true});
    EXPECT_EQ(s.loop.WAITCOMMAND(), std::nullopt);
    EXPECT_EQ(s.received.size(), 1u);
    EXPECT_EQ(s.fake.Refreshes(), 1);  // still pumps once on the way out
}

TEST(GetChar, TakesTheFrontByteOrNothing) {
    Session s;
    EXPECT_EQ(s.loop.GETCHAR(), std::nullopt);
    s.received.Append("AB");
    EXPECT_EQ(s.loop.GETCHAR(), 'A');
    EXPECT_EQ(s.loop.GETCHAR(), 'B');
    EXPECT_EQ(s.loop.GETCHAR(), std::nullopt);
}

// The named routines on the error report's call chain, innermost first.
std::string CallChain() {
    std::string chain;
    for (int level = 0; !errors::InnermostRoutine(level).name.empty(); ++level) {
        chain += (level == 0 ? "" : " ") + errors::InnermostRoutine(level).name;
    }
    return chain;
}

// The fake session, noting the call chain at every write, log line and pump pass.
class ChainNotingSession : public FakeSession {
  public:
    using FakeSession::FakeSession;
    WriteOutcome Write(serial::PortHandle port, std::string_view bytes,
                       const Waiting& waiting) override {
        chains.insert(CallChain());
        return FakeSession::Write(port, bytes, waiting);
    }
    void SysRefresh() override {
        chains.insert(CallChain());
        FakeSession::SysRefresh();
    }
    void Append(std::string_view text) override {
        chains.insert(CallChain());
        FakeSession::Append(text);
    }
    std::set<std::string> chains;
};

TEST(CommandLoopCallChain, EveryRoutineOfTheLoopIsNamedInTheErrorReport) {
    TapeImage tape(TapEntry({.name = "ONLY", .data = "x"}));
    ReceiveBuffer received;
    ChainNotingSession fake(received);
    CommandLoop loop(fake.Services(), tape, received);
    fake.ArriveAtRefresh(1, "B");
    fake.ArriveAtRefresh(3, "B");
    loop.KESTREL(kPort, fake);
    EXPECT_EQ(fake.chains, (std::set<std::string>{"MESSAGE KESTREL", "WAITCOMMAND KESTREL",
                                                  "MESSAGE BLK KESTREL", "SENDSTR BLK KESTREL",
                                                  "SENDSTR KESTREL"}));
    EXPECT_EQ(CallChain(), "");
}

}  // namespace
}  // namespace kestrel::app
