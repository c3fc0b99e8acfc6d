#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/tables/table_file.h"

namespace kestrel::common {

// A table or memo file held in memory, read, written and locked as the platform's
// files are, for table bytes that come from elsewhere than a disk (the listing of
// arbitrary bytes, tests). Its locks conflict only with each other: no other open
// shares the bytes.
class MemoryTableFile final : public TableFile {
  public:
    // Writes that would grow the file past this many bytes fail as a full disk.
    static constexpr std::uint64_t kLimit = std::uint64_t{64} << 20;

    explicit MemoryTableFile(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}

    int Read(std::uint64_t offset, std::span<unsigned char> into, std::size_t& count) override;
    int Write(std::uint64_t offset, std::span<const unsigned char> from) override;
    int Size(std::uint64_t& size) override;
    int Flush() override { return 0; }
    int Truncate(std::uint64_t size) override;
    bool TryLock(std::uint64_t offset, std::uint64_t length) override;
    void Unlock(std::uint64_t offset, std::uint64_t length) override;

  private:
    struct Range {
        std::uint64_t offset;
        std::uint64_t length;
        bool operator==(const Range&) const = default;
    };
    std::vector<unsigned char> bytes_;
    std::vector<Range> held_;
};

// Files by name for WorkAreas: each open of a name gets its own copy of the bytes;
// other names are not found.
using MemoryFiles = std::map<std::string, std::vector<unsigned char>, std::less<>>;
TableFileOpener MemoryFileOpener(MemoryFiles files);

}  // namespace kestrel::common
