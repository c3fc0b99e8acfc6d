#include "serve/serve_tape.h"

#include <gtest/gtest.h>

#include <variant>

#include "serve/tape_archive.h"
#include "support/tape_builder.h"

namespace kestrel::serve {
namespace {

using testing::TapEntry;

TEST(TapeListing, AnImageWithoutEntriesSaysSo) {
    EXPECT_EQ(TapeListing(CatalogTape("")), "no entries\n");
    EXPECT_EQ(TapeListing(CatalogTape(" \r\n")), "no entries\n");
}

TEST(TapeWarnings, NameEachFaultyEntryThenCountThePastTheFirstFew) {
    std::string tape = TapEntry({.name = "GOOD", .data = "abc"});
    for (int n = 0; n < 10; ++n) {
        std::string entry = TapEntry({.name = "B\x1b" + std::to_string(n), .data = "xyz"});
        entry[25] ^= 0x10;  // a data byte
        tape += entry;
    }
    const std::vector<std::string> warnings = TapeWarnings(CatalogTape(tape), "t.tap");
    ASSERT_EQ(warnings.size(), 9u);
    EXPECT_EQ(warnings[0], "entry 2 (B\\x1B0): a checksum is wrong");
    EXPECT_EQ(warnings[8], "2 more entries with faults (kestrel-serve --list shows them)");
    EXPECT_TRUE(TapeWarnings(CatalogTape(TapEntry({.data = "abc"})), "t.tap").empty());
}

// A stored zip (Python's zipfile) of one member, t.tap, holding "0123456789ABCDEF".
const std::string kZip(
    "PK\x03\x04\x14\x00\x00\x00\x00\x00\x00\x00\x21\x50\xB5\x37\x3C\x98\x10\x00\x00\x00\x10\x00"
    "\x00\x00\x05\x00\x00\x00t.tap0123456789ABCDEFPK\x01\x02\x14\x03\x14\x00\x00\x00\x00\x00\x00"
    "\x00\x21\x50\xB5\x37\x3C\x98\x10\x00\x00\x00\x10\x00\x00\x00\x05\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x80\x01\x00\x00\x00\x00t.tapPK\x05\x06\x00\x00\x00\x00\x01\x00\x01\x00\x33"
    "\x00\x00\x00\x33\x00\x00\x00\x00\x00",
    124);

TEST(TapeFromZip, AMemberOverTheCapIsRefusedAndOneWithinItTaken) {
    ASSERT_TRUE(IsZipArchive(kZip, "x"));
    const auto within = TapeFromZip(kZip, "", 16);
    ASSERT_TRUE(std::holds_alternative<ArchiveMember>(within));
    EXPECT_EQ(std::get<ArchiveMember>(within).bytes, "0123456789ABCDEF");
    const auto over = TapeFromZip(kZip, "t.tap", 15);
    ASSERT_TRUE(std::holds_alternative<ArchiveRefusal>(over));
    EXPECT_EQ(std::get<ArchiveRefusal>(over).message,
              "t.tap is bigger than a tape may be (15 bytes)");
}

}  // namespace
}  // namespace kestrel::serve
