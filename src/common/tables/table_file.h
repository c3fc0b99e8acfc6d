#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "errors/error_record.h"

namespace kestrel::common {

// What the table layer needs of the platform's files: an open file read and written
// at offsets, with non-blocking exclusive byte-range locks, and a handful of whole-file
// operations. One implementation per platform (table_file_win32.cpp,
// table_file_posix.cpp); each answers failures with the Windows error code of the
// failure (os_error, the errors::kOs... codes), so the error handler sorts them the
// same way everywhere.
//
// Sharing, as several workstations see it over a shared disk:
// - an open asks for shared or exclusive use; an open that conflicts with another
//   holder's share mode fails at once with kOsSharingViolation, it never waits;
// - a lock covers a byte range, is exclusive, and is refused at once (false) when any
//   other open of the file, in this process or another, holds an overlapping range.
//   Locks of one open never conflict with each other's release: each Unlock names
//   exactly a range that one TryLock took.

enum class FileAccess { kReadOnly, kReadWrite };
enum class FileShare { kShared, kExclusive };

class TableFile {
  public:
    virtual ~TableFile() = default;
    // Reads up to into.size() bytes at `offset`; `count` is how many came (fewer at
    // the end of the file). Answers 0 or the error code.
    virtual int Read(std::uint64_t offset, std::span<unsigned char> into, std::size_t& count) = 0;
    // Writes all of `from` at `offset`, growing the file as needed. 0 or the error code.
    virtual int Write(std::uint64_t offset, std::span<const unsigned char> from) = 0;
    // The file's size in bytes. 0 or the error code.
    virtual int Size(std::uint64_t& size) = 0;
    // Puts what was written on the disk. 0 or the error code.
    virtual int Flush() = 0;
    // Cuts (or grows) the file to `size` bytes. 0 or the error code.
    virtual int Truncate(std::uint64_t size) = 0;
    // Takes an exclusive lock on [offset, offset + length) without waiting; false
    // when another open holds an overlapping range.
    virtual bool TryLock(std::uint64_t offset, std::uint64_t length) = 0;
    // Releases a range that TryLock took.
    virtual void Unlock(std::uint64_t offset, std::uint64_t length) = 0;
};

// An open file, or the error code that kept it shut.
struct OpenedFile {
    std::unique_ptr<TableFile> file;
    int os_error = 0;
};

// Opens an existing file.
OpenedFile OpenTableFile(const std::string& path, FileAccess access, FileShare share);

// How the table layer opens an existing file: OpenTableFile, or files held elsewhere
// (memory_table_file.h).
using TableFileOpener =
    std::function<OpenedFile(const std::string& path, FileAccess access, FileShare share)>;

// Creates a file for exclusive read-write use: `replace` empties one that exists;
// otherwise an existing file is refused with kOsFileExists (so that of several
// processes creating the same file at once exactly one succeeds).
OpenedFile CreateTableFile(const std::string& path, bool replace);

bool TableFileExists(const std::string& path);
// Each answers 0 or the error code.
int RemoveTableFile(const std::string& path);
// Gives `from` the name `to` in one step, replacing the file `to` (never removed
// first): a crash leaves one of the two files under that name, whole, and the new
// name is on the disk when it answers 0. Both names must be on one volume; a move
// across volumes would be a copy, which is not one step, and is refused.
int RenameTableFile(const std::string& from, const std::string& to);
int CopyTableFile(const std::string& from, const std::string& to);  // `to` is replaced

}  // namespace kestrel::common
