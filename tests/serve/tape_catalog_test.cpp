#include "serve/tape_catalog.h"

#include <gtest/gtest.h>

#include "support/tape_builder.h"

namespace kestrel::serve {
namespace {

using testing::Block;
using testing::TapEntry;

const std::string kFirst = TapEntry({.name = "LOADER", .data = "abc"});
const std::string kSecond = TapEntry({.type = 3, .name = "CODE", .data = std::string(300, 'x')});

TEST(TapeCatalog, WellFormedEntriesAreOkWhereTheTapeImageFindsThem) {
    const TapeCatalog catalog = CatalogTape(kFirst + kSecond + "\r\n");
    ASSERT_EQ(catalog.entries.size(), 2u);
    EXPECT_EQ(catalog.entries[1].offset, kFirst.size());
    EXPECT_EQ(catalog.entries[1].name, "CODE      ");
    EXPECT_EQ(catalog.entries[1].length, 300);
    EXPECT_EQ(catalog.entries[0].header_flag, 0x00);
    EXPECT_EQ(catalog.entries[0].data_flag, 0xFF);
    for (const CatalogEntry& entry : catalog.entries) {
        EXPECT_EQ(entry.check, BlockCheck::kOk);
        EXPECT_EQ(entry.problem, "");
    }
    EXPECT_EQ(catalog.end_offset, kFirst.size() + kSecond.size());
    EXPECT_EQ(catalog.not_a_tape, "");
}

TEST(TapeCatalog, AWrongChecksumIsBadAndACutEntryShortWithWhatIsMissing) {
    std::string tape = kFirst + kSecond;
    tape[kFirst.size() + 30] ^= 0x40;  // a data byte of the second entry
    EXPECT_EQ(CatalogTape(tape).entries[1].check, BlockCheck::kBad);
    EXPECT_EQ(CatalogTape(tape).CountWith(BlockCheck::kBad), 1u);

    const TapeCatalog cut = CatalogTape((kFirst + kSecond).substr(0, kFirst.size() + 100));
    ASSERT_EQ(cut.entries.size(), 2u);
    EXPECT_EQ(cut.entries[1].check, BlockCheck::kShort);
    EXPECT_EQ(cut.entries[1].problem, "the file ends 225 bytes before the entry does");
}

TEST(TapeCatalog, BlocksThatDoNotPairAreNamed) {
    // A data block with no header before it, then an entry whose data block is
    // shorter than its header says.
    const std::string headerless = Block('\xFF', std::string(40, 'z'));
    std::string mismatched = TapEntry({.name = "M", .data = std::string(10, 'y')});
    mismatched[21] = 8;  // the data block's length word: 6 data bytes
    const TapeCatalog catalog = CatalogTape(headerless + kFirst);
    EXPECT_EQ(catalog.entries[0].problem, "a block of 42 bytes without a header");
    EXPECT_EQ(catalog.not_a_tape, "the first block is not a header");
    EXPECT_EQ(CatalogTape(kFirst + mismatched).entries[1].problem,
              "the data block is 6 bytes, its header says 10");
}

TEST(TapeCatalog, FilesThatAreNoTapeAreNamedAndAnEmptyOneHasNoEntries) {
    EXPECT_EQ(CatalogTape("\x1f\x8b\x08\x00 gzip").not_a_tape, "gzip data");
    EXPECT_EQ(CatalogTape("PK\x03\x04 zip").not_a_tape, "zip data");
    EXPECT_TRUE(CatalogTape(" \r\n").entries.empty());
    EXPECT_EQ(CatalogTape("").not_a_tape, "");
}

}  // namespace
}  // namespace kestrel::serve
