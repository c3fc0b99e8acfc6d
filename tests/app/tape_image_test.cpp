#include "app/tape_image.h"

#include <gtest/gtest.h>

#include <random>

#include "support/tape_builder.h"

namespace kestrel::app {
namespace {

using testing::Bytes;
using testing::EntryFields;
using testing::TapEntry;

TEST(TapeImageEntries, ThreeFilesOnTapeYieldThreeEntriesThenTheTapeIsExhausted) {
    TapeImage tape(TapEntry({.type = 0, .name = "LOADER", .data = "abc"}) +
                   TapEntry({.type = 3, .name = "SCREEN", .data = std::string(6912, 'x')}) +
                   TapEntry({.type = 3, .name = "CODE", .data = "", .param1 = 32768}));
    std::vector<std::string> names;
    while (!tape.IsExhausted()) {
        names.emplace_back(tape.Front().name);
        tape.DropFront();
    }
    EXPECT_EQ(names, (std::vector<std::string>{"LOADER    ", "SCREEN    ", "CODE      "}));
    EXPECT_TRUE(tape.Remaining().empty());
}

TEST(TapeImageEntries, FieldsAreReadAtTheirOffsetsLittleEndian) {
    TapeImage tape(TapEntry(
        {.type = 3, .name = "HELLO", .data = "\x01\x02", .param1 = 32768, .param2 = 0x1234}));
    TapeEntry entry = tape.Front();
    EXPECT_EQ(entry.type, 3);
    EXPECT_EQ(entry.name, "HELLO     ");
    EXPECT_EQ(entry.length, 2);
    EXPECT_EQ(entry.param1, 32768);
    EXPECT_EQ(entry.param2, 0x1234);
    EXPECT_EQ(entry.data, "\x01\x02");
}

TEST(TapeImageEntries, FrontDoesNotChangeTheImageAndDropCutsAt25PlusN) {
    std::string first = TapEntry({.data = "12345"});
    std::string second = TapEntry({.name = "NEXT"});
    TapeImage tape(first + second);
    EXPECT_EQ(tape.Front().name, tape.Front().name);
    EXPECT_EQ(tape.Remaining().size(), first.size() + second.size());
    tape.DropFront();
    EXPECT_EQ(first.size(), 25u + 5u);
    EXPECT_EQ(tape.Remaining(), second);
}

TEST(TapeImageEntries, AnEntryWithNoDataYieldsNoneAndTheNextStarts25BytesOn) {
    std::string empty_entry = TapEntry({.name = "EMPTY", .data = ""});
    ASSERT_EQ(empty_entry.size(), 25u);
    TapeImage tape(empty_entry + TapEntry({.name = "SECOND", .data = "z"}));
    EXPECT_EQ(tape.Front().length, 0);
    EXPECT_TRUE(tape.Front().data.empty());
    tape.DropFront();
    EXPECT_EQ(tape.Front().name, "SECOND    ");
}

TEST(TapeImageEntries, OnlyTheStoredDataLengthDecidesTheStepNotTheBlockLengths) {
    // Header block length says 99 and the data block length says 0: both are ignored.
    std::string entry = TapEntry({.name = "ODD", .data = "ab"});
    entry[0] = 99;
    entry[21] = 0;
    TapeImage tape(entry + TapEntry({.name = "AFTER"}));
    tape.DropFront();
    EXPECT_EQ(tape.Front().name, "AFTER     ");
}

TEST(TapeImageShortImages, TwelveBytesGiveTypeAnEightByteNameAndZeros) {
    TapeImage tape(Bytes({0x13, 0x00, 0x00, 0x07}) + "ABCDEFGH");
    ASSERT_FALSE(tape.IsExhausted());
    TapeEntry entry = tape.Front();
    EXPECT_EQ(entry.type, 7);
    EXPECT_EQ(entry.name, "ABCDEFGH");
    EXPECT_EQ(entry.length, 0);
    EXPECT_EQ(entry.param1, 0);
    EXPECT_EQ(entry.param2, 0);
    EXPECT_TRUE(entry.data.empty());
    tape.DropFront();
    EXPECT_TRUE(tape.Remaining().empty());
    EXPECT_TRUE(tape.IsExhausted());
}

TEST(TapeImageShortImages, AMissingHighByteOfTheLengthLeavesTheLowByteAlone) {
    std::string image = TapEntry({.data = std::string(300, 'd')}).substr(0, 15);
    TapeImage tape(image);
    EXPECT_EQ(tape.Front().length, 300 & 0xFF);
}

TEST(TapeImageShortImages, DataCutShortByTheEndOfTheFileYieldsWhatIsThereAndEndsTheTape) {
    std::string entry = TapEntry({.data = "0123456789"});
    TapeImage tape(entry.substr(0, 24 + 4));
    EXPECT_EQ(tape.Front().length, 10);
    EXPECT_EQ(tape.Front().data, "0123");
    tape.DropFront();
    EXPECT_TRUE(tape.Remaining().empty());
}

TEST(TapeImageShortImages, ALengthFieldLargerThanTheFileIsNotAnError) {
    std::string entry = TapEntry({.data = "abc"});
    entry[14] = '\xFF';
    entry[15] = '\xFF';
    TapeImage tape(entry);
    EXPECT_EQ(tape.Front().length, 65535);
    EXPECT_EQ(tape.Front().data, entry.substr(24));
    tape.DropFront();
    EXPECT_TRUE(tape.IsExhausted());
}

TEST(TapeImageExhaustion, EmptyAndBlankTailsCountAsExhausted) {
    for (std::string tail : {"", "\n", " \t\r\n  ", "\r\n\r\n"}) {
        TapeImage tape(TapEntry({}) + tail);
        tape.DropFront();
        EXPECT_TRUE(tape.IsExhausted()) << "tail of " << tail.size() << " bytes";
    }
}

TEST(TapeImageExhaustion, AnyOtherByteInTheTailIsStillTape) {
    for (char other : {'\0', '\x1A', 'x', '\x0B', '\x0C'}) {
        TapeImage tape(TapEntry({}) + "  " + std::string(1, other) + " ");
        tape.DropFront();
        EXPECT_FALSE(tape.IsExhausted()) << int(other);
    }
}

TEST(TapeImageExhaustion, ABlankTapeIsExhaustedBeforeAnythingIsTaken) {
    EXPECT_TRUE(TapeImage().IsExhausted());
    EXPECT_TRUE(TapeImage(" \t\r\n").IsExhausted());
    EXPECT_FALSE(TapeImage(std::string(1, '\0')).IsExhausted());
}

TEST(TapeImageExhaustion, LoadingAgainStartsFromTheNewContent) {
    TapeImage tape(TapEntry({.name = "OLD"}));
    tape.DropFront();
    ASSERT_TRUE(tape.IsExhausted());
    tape.Assign(TapEntry({.name = "NEW"}));
    EXPECT_FALSE(tape.IsExhausted());
    EXPECT_EQ(tape.Front().name, "NEW       ");
}

// Any bytes at all: the reads stay inside the image, every cut shortens it by
// exactly min(25 + N, what is left), and the views point into what is left.
TEST(TapeImageRandomized, EveryCutShortensTheImageAndNoReadLeavesIt) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 20000; ++round) {
        std::string bytes(random() % 200, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random() % 4 == 0 ? ' ' : random());
        }
        if (round % 3 == 0 && bytes.size() > 16) {
            bytes[15] = 0;  // small lengths so that several entries fit
            bytes[14] = static_cast<char>(random() % 40);
        }
        TapeImage tape(bytes);
        int entries = 0;
        while (!tape.IsExhausted()) {
            std::string_view before = tape.Remaining();
            TapeEntry entry = tape.Front();
            ASSERT_LE(entry.name.size(), 10u);
            ASSERT_LE(entry.data.size(), entry.length);
            for (std::string_view part : {entry.name, entry.data}) {
                if (!part.empty()) {
                    ASSERT_GE(part.data(), before.data());
                    ASSERT_LE(part.data() + part.size(), before.data() + before.size());
                }
            }
            tape.DropFront();
            std::size_t expected = std::min<std::size_t>(25u + entry.length, before.size());
            ASSERT_EQ(tape.Remaining().size(), before.size() - expected);
            ASSERT_LE(++entries, 200);
        }
        ASSERT_TRUE(std::all_of(tape.Remaining().begin(), tape.Remaining().end(), [](char c) {
            return c == ' ' || c == '\t' || c == '\r' || c == '\n';
        }));
    }
}

}  // namespace
}  // namespace kestrel::app
