#include "serve/tape_deck.h"

#include <gtest/gtest.h>

#include "serve/deck_keys.h"
#include "serve/deck_screen.h"
#include "support/tape_builder.h"

namespace kestrel::serve {
namespace {

using testing::TapEntry;

std::string ThreeEntries() {
    return TapEntry({.type = 0, .name = "LOADER", .data = "abc"}) +
           TapEntry({.type = 3, .name = "SCREEN", .data = std::string(6912, 's')}) +
           TapEntry({.type = 3, .name = "CODE", .data = std::string(300, 'c')});
}

std::vector<DeckKey> Keys(KeyDecoder& decoder, std::string_view bytes) {
    std::vector<DeckKey> keys;
    for (const KeyPress& press : decoder.Take(bytes)) {
        keys.push_back(press.key);
    }
    return keys;
}

TEST(DeckKeys, LettersCursorKeysAndHomeFormsAreKeysOtherSequencesArePassedOver) {
    KeyDecoder decoder;
    using enum DeckKey;
    EXPECT_EQ(Keys(decoder, "npr \r\n\x7F\bqQ"),
              (std::vector{kNext, kBack, kAgain, kPause, kEnter, kEnter, kBackspace, kBackspace,
                           kQuit, kQuit}));
    EXPECT_EQ(Keys(decoder, "\x1b[C\x1bOC\x1b[D\x1bOD\x1b[H\x1bOH\x1b[1~\x1b[7~"),
              (std::vector{kNext, kNext, kBack, kBack, kFirst, kFirst, kFirst, kFirst}));
    // F2 (ESC O Q), cursor up, F5 (ESC [ 1 5 ~): no key, and the Q of F2 is no q.
    EXPECT_EQ(Keys(decoder, "\x1bOQ\x1b[A\x1b[15~"), std::vector<DeckKey>{});
    EXPECT_EQ(Keys(decoder, "\x1b"), std::vector{kEsc});
    EXPECT_EQ(Keys(decoder, "x\x1bx"), std::vector{kEsc});
    const std::vector<KeyPress> digits = decoder.Take("42");
    EXPECT_EQ(digits, (std::vector<KeyPress>{{kDigit, '4'}, {kDigit, '2'}}));
}

TEST(DeckKeys, ASequenceCutBetweenTwoReadsIsTakenWhole) {
    KeyDecoder decoder;
    EXPECT_EQ(Keys(decoder, "n\x1b["), std::vector{DeckKey::kNext});
    EXPECT_EQ(Keys(decoder, "1"), std::vector<DeckKey>{});
    EXPECT_EQ(Keys(decoder, "~"), std::vector{DeckKey::kFirst});
    EXPECT_EQ(Keys(decoder, "\x1bO"), std::vector<DeckKey>{});
    EXPECT_EQ(Keys(decoder, "Qq"), std::vector{DeckKey::kQuit});  // F2, then q
}

TEST(TapeDeck, EachBGetsTheMarkedEntryAndTheMarkMovesOnToTheEnd) {
    const TapeCatalog catalog = CatalogTape(ThreeEntries());
    TapeDeck deck(catalog);
    EXPECT_EQ(deck.Take(), catalog.entries[0].offset);
    EXPECT_EQ(deck.OnWire(), 0u);
    deck.EntryOut();
    EXPECT_EQ(deck.Take(), catalog.entries[1].offset);
    EXPECT_EQ(deck.Take(), catalog.entries[2].offset);
    EXPECT_TRUE(deck.MarkAtEnd());
    EXPECT_EQ(deck.Take(), catalog.end_offset);
    EXPECT_FALSE(deck.OnWire());
    EXPECT_TRUE(deck.MarkAtEnd());
}

TEST(TapeDeck, MovesStayOnTheTapeAndItsEnd) {
    TapeDeck deck(CatalogTape(ThreeEntries()), 1);
    EXPECT_EQ(deck.Mark(), 1u);
    deck.Back();
    deck.Back();
    EXPECT_EQ(deck.Mark(), 0u);
    for (int i = 0; i < 5; ++i) {
        deck.Next();
    }
    EXPECT_EQ(deck.Mark(), 3u);  // the end
    deck.Back();
    EXPECT_EQ(deck.Mark(), 2u);
    deck.First();
    EXPECT_EQ(deck.Mark(), 0u);
    deck.Again();  // nothing sent yet: stays
    EXPECT_EQ(deck.Mark(), 0u);
    deck.Next();
    deck.Take();  // entry 2 goes out; the mark on 3
    deck.Again();
    EXPECT_EQ(deck.Mark(), 1u);
}

TEST(TapeDeck, DigitsThenEnterGoToThatEntryBackspaceEditsAndANumberOffTheTapeIsRefused) {
    TapeDeck deck(CatalogTape(ThreeEntries()));
    for (const KeyPress key : {KeyPress{DeckKey::kDigit, '2'}, KeyPress{DeckKey::kDigit, '7'},
                               KeyPress{DeckKey::kBackspace}}) {
        deck.Press(key);
    }
    EXPECT_EQ(deck.Typed(), "2");
    deck.Press({DeckKey::kEnter});
    EXPECT_EQ(deck.Mark(), 1u);
    EXPECT_EQ(deck.Typed(), "");
    deck.Press({DeckKey::kDigit, '9'});
    deck.Press({DeckKey::kEnter});
    EXPECT_EQ(deck.Mark(), 1u);
    EXPECT_EQ(deck.Notice(), "no entry 9");
    deck.Press({DeckKey::kPause});
    EXPECT_TRUE(deck.Paused());
    deck.Press({DeckKey::kPause});
    EXPECT_FALSE(deck.Paused());
}

TEST(DeckScreen, ListsTheEntriesWithTheMarkTheBarUnderTheEntryOnTheWireAndTheState) {
    std::string image = ThreeEntries();
    image[image.size() - 1] ^= 1;  // the last entry's data checksum goes wrong
    TapeDeck deck(CatalogTape(image));
    deck.Take();  // LOADER
    deck.EntryOut();
    deck.Take();  // SCREEN on the wire, the mark on CODE
    deck.Press({DeckKey::kPause});
    const std::vector<std::string> screen =
        DeckScreen(deck, {.sent = 3456, .data = 6912}, "serving t.tap", 80, 24);
    EXPECT_EQ(screen, (std::vector<std::string>{
                          "serving t.tap",
                          "     #  type      name        length",
                          "     1  Program   LOADER           3",
                          "     2  Bytes     SCREEN        6912",
                          "        [###############...............] 3456 / 6912 bytes taken "
                          "by the line",
                          ">    3  Bytes     CODE           300  bad",
                          "   end",
                          "sending 2 SCREEN; paused after it (Space to go on)",
                          "n next  p back  Home first  12 Enter: go to 12  r again  Space pause  "
                          "q quit",
                      }));
}

TEST(DeckScreen, ANarrowShortTerminalCutsLinesAndScrollsTheListWithTheMark) {
    std::string image;
    for (int i = 0; i < 20; ++i) {
        image += TapEntry({.name = "E" + std::to_string(i) + "\x01", .data = "x"});
    }
    TapeDeck deck(CatalogTape(image), 15);
    deck.HoldRequest(true);
    deck.TogglePause();
    const std::vector<std::string> screen = DeckScreen(deck, {}, "title", 25, 8);
    EXPECT_EQ(screen, (std::vector<std::string>{
                          "title",
                          "     #  type      name   ",
                          "    14  Bytes     E13\\x01",
                          "    15  Bytes     E14\\x01",
                          ">   16  Bytes     E15\\x01",
                          "    17  Bytes     E16\\x01",
                          "paused: a B waits (Space ",
                          "n next  p back  Home firs",
                      }));
}

}  // namespace
}  // namespace kestrel::serve
