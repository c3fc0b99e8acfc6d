// The platform's table files, natively over POSIX and under Wine over Win32: the same
// sharing rules must hold on both.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "common/tables/memory_table_file.h"
#include "common/tables/table_file.h"
#include "support/temp_dir.h"

namespace kestrel::common {
namespace {

using Bytes = std::vector<unsigned char>;

class TableFileTest : public ::testing::Test {
  protected:
    // A file of `content`, closed again.
    std::string MakeFile(const std::string& name, const Bytes& content) {
        const std::string path = folder_.File(name);
        OpenedFile created = CreateTableFile(path, false);
        EXPECT_EQ(created.os_error, 0);
        if (created.file) {
            EXPECT_EQ(created.file->Write(0, content), 0);
        }
        return path;
    }

    testing::TempDir folder_;
};

TEST_F(TableFileTest, BytesWrittenAtAnOffsetAreReadBackAndAReadStopsAtTheEnd) {
    const std::string path = MakeFile("t.dbf", Bytes(10, 'x'));
    OpenedFile opened = OpenTableFile(path, FileAccess::kReadWrite, FileShare::kShared);
    ASSERT_EQ(opened.os_error, 0);
    ASSERT_EQ(opened.file->Write(12, Bytes{'a', 'b', 'c'}), 0);
    std::uint64_t size = 0;
    ASSERT_EQ(opened.file->Size(size), 0);
    EXPECT_EQ(size, 15u);

    Bytes into(10, 0);
    std::size_t count = 99;
    ASSERT_EQ(opened.file->Read(9, into, count), 0);
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(Bytes(into.begin(), into.begin() + 6), (Bytes{'x', 0, 0, 'a', 'b', 'c'}));
    EXPECT_EQ(opened.file->Flush(), 0);
}

TEST_F(TableFileTest, AnExclusiveOpenAndAnyOtherOpenOfTheFileExcludeEachOther) {
    const std::string path = MakeFile("t.dbf", Bytes{1});
    {
        OpenedFile exclusive = OpenTableFile(path, FileAccess::kReadWrite, FileShare::kExclusive);
        ASSERT_EQ(exclusive.os_error, 0);
        OpenedFile second = OpenTableFile(path, FileAccess::kReadOnly, FileShare::kShared);
        EXPECT_EQ(second.os_error, errors::kOsSharingViolation);
        EXPECT_EQ(second.file, nullptr);
    }
    OpenedFile shared = OpenTableFile(path, FileAccess::kReadWrite, FileShare::kShared);
    OpenedFile also_shared = OpenTableFile(path, FileAccess::kReadOnly, FileShare::kShared);
    EXPECT_EQ(shared.os_error, 0);
    EXPECT_EQ(also_shared.os_error, 0);
    EXPECT_EQ(OpenTableFile(path, FileAccess::kReadWrite, FileShare::kExclusive).os_error,
              errors::kOsSharingViolation);
    EXPECT_EQ(CreateTableFile(path, true).os_error, errors::kOsSharingViolation);
}

TEST_F(TableFileTest, ALockedRangeIsRefusedToAnotherOpenUntilItIsReleased) {
    const std::string path = MakeFile("t.dbf", Bytes(200, ' '));
    OpenedFile first = OpenTableFile(path, FileAccess::kReadWrite, FileShare::kShared);
    OpenedFile second = OpenTableFile(path, FileAccess::kReadWrite, FileShare::kShared);
    ASSERT_EQ(first.os_error, 0);
    ASSERT_EQ(second.os_error, 0);

    ASSERT_TRUE(first.file->TryLock(100, 10));
    EXPECT_FALSE(second.file->TryLock(109, 5));
    EXPECT_FALSE(first.file->TryLock(105, 1)) << "a handle's locks do not overlap either";
    EXPECT_TRUE(second.file->TryLock(110, 5)) << "adjacent, not overlapping";
    EXPECT_TRUE(second.file->TryLock(4'000'000'000u, 1)) << "far beyond the end";

    first.file->Unlock(100, 10);
    EXPECT_TRUE(second.file->TryLock(100, 10));
    EXPECT_FALSE(first.file->TryLock(100, 1));
}

TEST_F(TableFileTest, CreatingRefusesAnExistingFileUnlessItReplacesIt) {
    const std::string path = MakeFile("t.dbf", Bytes(5, 'x'));
    EXPECT_EQ(CreateTableFile(path, false).os_error, errors::kOsFileExists);

    OpenedFile replaced = CreateTableFile(path, true);
    ASSERT_EQ(replaced.os_error, 0);
    std::uint64_t size = 99;
    ASSERT_EQ(replaced.file->Size(size), 0);
    EXPECT_EQ(size, 0u);
}

TEST_F(TableFileTest, WholeFileOperationsAnswerWindowsErrorCodes) {
    const std::string path = MakeFile("a.dbf", Bytes{'a', 'b'});
    const std::string missing = folder_.File("none.dbf");
    EXPECT_EQ(OpenTableFile(missing, FileAccess::kReadOnly, FileShare::kShared).os_error,
              errors::kOsFileNotFound);
    EXPECT_EQ(
        OpenTableFile(folder_.File("no/t.dbf"), FileAccess::kReadOnly, FileShare::kShared).os_error,
        errors::kOsPathNotFound);

    ASSERT_EQ(CopyTableFile(path, folder_.File("b.dbf")), 0);
    ASSERT_EQ(RenameTableFile(folder_.File("b.dbf"), path), 0);
    EXPECT_FALSE(TableFileExists(folder_.File("b.dbf")));
    EXPECT_FALSE(TableFileExists(folder_.path()));
    ASSERT_TRUE(TableFileExists(path));
    EXPECT_EQ(RemoveTableFile(path), 0);
    EXPECT_EQ(RemoveTableFile(path), errors::kOsFileNotFound);
}

TEST_F(TableFileTest, ARenameReplacesTheTargetWholeAndACutShortensAFile) {
    const std::string target = MakeFile("t.dbf", Bytes{'o', 'l', 'd', '!'});
    const std::string staged = MakeFile("t.dbf.new", Bytes{'n', 'e', 'w'});
    ASSERT_EQ(RenameTableFile(staged, target), 0);
    EXPECT_FALSE(TableFileExists(staged));
    OpenedFile opened = OpenTableFile(target, FileAccess::kReadWrite, FileShare::kExclusive);
    ASSERT_TRUE(opened.file);
    Bytes read(8);
    std::size_t count = 0;
    ASSERT_EQ(opened.file->Read(0, read, count), 0);
    EXPECT_EQ(Bytes(read.begin(), read.begin() + static_cast<std::ptrdiff_t>(count)),
              (Bytes{'n', 'e', 'w'}));
    ASSERT_EQ(opened.file->Truncate(1), 0);
    std::uint64_t size = 0;
    ASSERT_EQ(opened.file->Size(size), 0);
    EXPECT_EQ(size, 1u);
}

#ifndef _WIN32
TEST_F(TableFileTest, ARenameToAnotherVolumeIsRefusedAndCopiesNothing) {
    const std::string other_volume = "/dev/shm/kestrel-rename-" + std::to_string(::getpid());
    struct stat here {};
    struct stat there {};
    if (::stat(folder_.path().c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0 ||
        here.st_dev == there.st_dev) {
        GTEST_SKIP() << "no second volume at /dev/shm";
    }
    const std::string path = MakeFile("a.dbf", Bytes{'a'});
    EXPECT_EQ(RenameTableFile(path, other_volume), 17);  // ERROR_NOT_SAME_DEVICE
    EXPECT_TRUE(TableFileExists(path));
    EXPECT_FALSE(TableFileExists(other_volume));
    RemoveTableFile(other_volume);
}
#endif

TEST(MemoryTableFile, ReadsWritesAndLocksAsAFileDoesWithinItsLimit) {
    MemoryTableFile file(Bytes{'a', 'b'});
    ASSERT_EQ(file.Write(4, Bytes{'c'}), 0);
    Bytes read(8, '?');
    std::size_t count = 0;
    ASSERT_EQ(file.Read(1, read, count), 0);
    EXPECT_EQ(Bytes(read.begin(), read.begin() + static_cast<std::ptrdiff_t>(count)),
              (Bytes{'b', 0, 0, 'c'}));
    EXPECT_EQ(file.Write(MemoryTableFile::kLimit, Bytes{'x'}), errors::kOsDiskFull);
    ASSERT_TRUE(file.TryLock(100, 10));
    EXPECT_FALSE(file.TryLock(109, 1));
    EXPECT_TRUE(file.TryLock(110, 1));
    file.Unlock(100, 10);
    EXPECT_TRUE(file.TryLock(109, 1));

    const TableFileOpener open = MemoryFileOpener({{"T.DBF", Bytes{'t'}}});
    EXPECT_EQ(open("U.DBF", FileAccess::kReadOnly, FileShare::kShared).os_error,
              errors::kOsFileNotFound);
    OpenedFile opened = open("T.DBF", FileAccess::kReadOnly, FileShare::kShared);
    ASSERT_TRUE(opened.file);
    std::uint64_t size = 0;
    EXPECT_EQ(opened.file->Size(size), 0);
    EXPECT_EQ(size, 1u);
}

}  // namespace
}  // namespace kestrel::common
