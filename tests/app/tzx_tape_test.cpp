#include "app/tzx_tape.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "app/tape_file.h"
#include "support/tape_builder.h"
#include "support/temp_dir.h"

namespace kestrel::app {
namespace {

using testing::Bytes;
using testing::TapEntry;
using testing::Word;

std::string Tzx(const std::string& blocks) {
    return std::string(kTzxSignature) + Bytes({1, 20}) + blocks;
}

std::string Standard(std::string_view tap_block) {
    return "\x10" + Word(1000) + Word(static_cast<std::uint16_t>(tap_block.size())) +
           std::string(tap_block);
}

// The TZX twin of a well-formed TAP image: each TAP block as a standard-speed data
// block, with `between` after each one.
std::string TzxTwin(std::string_view tap, const std::string& between = "") {
    std::string blocks;
    while (tap.size() >= 2) {
        std::size_t length = static_cast<unsigned char>(tap[0]) |
                             static_cast<std::size_t>(static_cast<unsigned char>(tap[1])) << 8;
        blocks += Standard(tap.substr(2, length)) + between;
        tap.remove_prefix(2 + length);
    }
    return Tzx(blocks);
}

// One block of every kind that carries no tape data, a loop of a pause and an empty
// data block included.
const std::string kNoDataBlocks =
    Bytes({0x20, 0xE8, 0x03}) + Bytes({0x21, 5}) + "group" + Bytes({0x22}) + Bytes({0x30, 4}) +
    "text" + Bytes({0x31, 3, 3}) + "msg" + Bytes({0x32, 7, 0, 1, 0, 4}) + "KEST" +
    Bytes({0x33, 1, 0, 1, 0}) + Bytes({0x34, 0, 0, 0, 0, 0, 0, 0, 0}) + "\x35" +
    std::string(16, 'i') + Word(2) + Word(0) + "xy" + Bytes({0x24, 2, 0, 0x20, 5, 0, 0x25}) +
    Bytes({0x2A, 0, 0, 0, 0, 0x2B, 1, 0, 0, 0, 1}) + "\x5AXTape!\x1A" + Bytes({1, 20}) +
    Bytes({0x10, 0, 0, 0, 0});

const std::string kTap = TapEntry({.type = 0, .name = "LOADER", .data = "10 RUN"}) +
                         TapEntry({.name = "CODE", .data = std::string(300, '\x1A')});

TEST(TzxConversion, StandardBlocksBecomeTheTapTwinWhateverLiesBetweenThem) {
    for (const std::string& between : {std::string(), kNoDataBlocks}) {
        TapeLoad converted = TzxToTap(TzxTwin(kTap, between));
        EXPECT_FALSE(converted.refusal);
        EXPECT_EQ(converted.image, kTap);
    }
    EXPECT_EQ(TzxToTap(Tzx(kNoDataBlocks)).image, "");
}

TEST(TzxConversion, EachRefusalNamesTheBlockAndWhereItStarts) {
    const std::string first = Standard(
        "\xFF"
        "ab");  // 8 bytes: the second block is at 18
    struct Case {
        std::string file;
        std::size_t offset;
        int block_id;
        std::string text;
    };
    const Case cases[] = {
        {Tzx(first + Bytes({0x11}) + std::string(40, '\0')), 18, 0x11,
         "unsupported TZX block 11h (turbo speed data) at offset 18"},
        {Tzx(first + Bytes({0x7F, 0, 0, 0, 0})), 18, 0x7F, "unknown TZX block 7Fh at offset 18"},
        {Tzx(first + Bytes({0x23, 1, 0})), 18, 0x23,
         "TZX block 23h (jump to block) changes the order the blocks play in at offset 18"},
        {Tzx(first + Standard("\xFF"
                              "abcdef")
                         .substr(0, 9)),
         18, 0x10,
         "TZX block 10h (standard speed data) runs past the end of the file at offset 18"},
        {Tzx(first + Bytes({0x35}) + std::string(17, 'i')), 18, 0x35,
         "TZX block 35h (custom info) runs past the end of the file at offset 18"},
        {Tzx(Bytes({0x24, 2, 0}) + first + Bytes({0x25})), 10, 0x24,
         "TZX block 24h (loop start) repeats data blocks at offset 10"},
        {Tzx(first + Bytes({0x25})), 18, 0x25,
         "TZX block 25h (loop end) without a loop start at offset 18"},
        {"ZXTape?\x1A" + Bytes({1, 20}), 0, -1,
         "not a TZX file: it does not begin with \"ZXTape!\" and 1Ah at offset 0"},
        {"ZXTape!\x1A\x01", 0, -1, "TZX header cut short: 9 of its 10 bytes at offset 0"},
        {"ZXTape!\x1A\x02" + Bytes({0}), 8, -1,
         "TZX version 2.0 is not supported (only 1.xx) at offset 8"},
    };
    for (const Case& c : cases) {
        TapeLoad converted = TzxToTap(c.file);
        ASSERT_TRUE(converted.refusal) << c.text;
        EXPECT_EQ(converted.refusal->offset, c.offset) << c.text;
        EXPECT_EQ(converted.refusal->block_id, c.block_id) << c.text;
        EXPECT_EQ(DescribeRefusal(*converted.refusal), c.text);
        EXPECT_TRUE(converted.image.empty());
    }
    for (int data_in_another_encoding : {0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x40}) {
        TapeLoad converted = TzxToTap(Tzx(Bytes({data_in_another_encoding, 0, 0, 0, 0})));
        ASSERT_TRUE(converted.refusal);
        EXPECT_EQ(converted.refusal->block_id, data_in_another_encoding);
    }
}

TEST(TapeFileLoading, TzxFilesAreConvertedAndTapFilesTakenAsTheImageTakesThem) {
    testing::TempDir dir;
    auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(dir.File(name), std::ios::binary) << bytes;
        return dir.File(name);
    };
    // The data block's checksum is 1Ah: in a TZX file that last byte is content.
    const std::string tap = TapEntry({.data = "\xE5"});
    ASSERT_EQ(tap.back(), '\x1A');
    EXPECT_EQ(LoadTapeFile(write("twin.bin", TzxTwin(tap))).image, tap);
    EXPECT_EQ(LoadTapeFile(write("plain.tap", tap)).image, tap.substr(0, tap.size() - 1));
    EXPECT_EQ(LoadTapeFile(write("nothing.tap", "")).image, "");
    EXPECT_FALSE(LoadTapeFile(dir.File("missing.tzx")).refusal);
    TapeLoad named = LoadTapeFile(write("NAMED.TZX", tap));
    ASSERT_TRUE(named.refusal);
    EXPECT_EQ(named.refusal->offset, 0u);
}

// Any damage to a TZX file ends in a refusal inside the file or in an image whose
// TAP blocks follow one another to its very end, never longer than the file.
TEST(TzxConversionRandomized, DamagedFilesAreRefusedOrGiveWholeTapBlocks) {
    const std::string good = TzxTwin(kTap, kNoDataBlocks);
    std::mt19937 random(20260117);
    for (int round = 0; round < 20000; ++round) {
        std::string file = good.substr(0, random() % (good.size() + 1));
        for (int hits = static_cast<int>(random() % 4); hits > 0 && !file.empty(); --hits) {
            file[random() % file.size()] = static_cast<char>(random());
        }
        TapeLoad converted = TzxToTap(file);
        if (converted.refusal) {
            ASSERT_LE(converted.refusal->offset, file.size());
            ASSERT_GE(converted.refusal->block_id, -1);
            ASSERT_LE(converted.refusal->block_id, 0xFF);
            continue;
        }
        ASSERT_LE(converted.image.size(), file.size());
        std::string_view rest = converted.image;
        while (!rest.empty()) {
            ASSERT_GE(rest.size(), 2u);
            std::size_t length = static_cast<unsigned char>(rest[0]) |
                                 static_cast<std::size_t>(static_cast<unsigned char>(rest[1])) << 8;
            ASSERT_GT(length, 0u);
            ASSERT_LE(length, rest.size() - 2);
            rest.remove_prefix(2 + length);
        }
    }
}

}  // namespace
}  // namespace kestrel::app
