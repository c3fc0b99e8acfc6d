#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "ui/empty.h"
#include "ui/memoread.h"
#include "support/temp_dir.h"

namespace kestrel::ui {
namespace {

TEST(Empty, BlankStringsAreEmpty) {
    EXPECT_TRUE(EMPTY(""));
    EXPECT_TRUE(EMPTY(" \t\r\n \n"));
    EXPECT_TRUE(EMPTY(static_cast<const char*>(nullptr)));
}

TEST(Empty, AnyOtherByteIsContent) {
    EXPECT_FALSE(EMPTY(std::string(1, '\0')));
    EXPECT_FALSE(EMPTY(" x "));
    EXPECT_FALSE(EMPTY("\x0B"));  // vertical tab is not one of the four
    EXPECT_FALSE(EMPTY("\x0C"));
    EXPECT_FALSE(EMPTY("\xA0"));  // nor the no-break space of Windows-1252
}

class Memoread : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        std::string path = dir_.File(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    testing::TempDir dir_;
};

TEST_F(Memoread, ReadsTheWholeFileByteForByte) {
    std::string bytes;
    for (int i = 0; i < 70000; ++i) {
        bytes.push_back(static_cast<char>(i * 31));
    }
    bytes.back() = 'z';
    EXPECT_EQ(MEMOREAD(Write("all.tap", bytes)), bytes);
}

TEST_F(Memoread, DropsOneFinalEndOfFileMarkOnly) {
    EXPECT_EQ(MEMOREAD(Write("one.tap", "abc\x1A")), "abc");
    EXPECT_EQ(MEMOREAD(Write("two.tap", "abc\x1A\x1A")), "abc\x1A");
    EXPECT_EQ(MEMOREAD(Write("mid.tap",
                             "a\x1A"
                             "bc")),
              "a\x1A"
              "bc");
    EXPECT_EQ(MEMOREAD(Write("mark.tap", "\x1A")), "");
}

TEST_F(Memoread, MissingEmptyAndUnreadableFilesAllGiveNothing) {
    EXPECT_EQ(MEMOREAD(dir_.File("missing.tap")), "");
    EXPECT_EQ(MEMOREAD(Write("empty.tap", "")), "");
    EXPECT_EQ(MEMOREAD(dir_.path()), "");  // a directory is not a file
    EXPECT_EQ(MEMOREAD(""), "");
}

TEST_F(Memoread, AFileAboveTheLimitReadsAsUnreadable) {
    std::string path = Write("big.tap", std::string(100, 'b'));
    EXPECT_EQ(MemoreadUpTo(path, 99), "");
    EXPECT_EQ(MemoreadUpTo(path, 100), std::string(100, 'b'));
}

TEST_F(Memoread, AFileBeyondFourGigabytesIsRefusedWithoutReadingIt) {
    std::string path = Write("huge.tap", "");
    std::error_code error;
    std::filesystem::resize_file(path, (std::uint64_t{1} << 32) + 10, error);  // sparse
    if (error) {
        GTEST_SKIP() << "this file system cannot hold a sparse 4 GiB file";
    }
    EXPECT_EQ(MEMOREAD(path), "");
}

}  // namespace
}  // namespace kestrel::ui
