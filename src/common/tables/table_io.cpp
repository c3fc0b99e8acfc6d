#include "common/tables/table_io.h"

#include <ctime>
#include <limits>

#include "common/tables/table_layer.h"
#include "errors/raise.h"

namespace kestrel::common {

errors::ErrorRecord TableError(int gen_code, int sub_code, int os_code, std::string_view file,
                               std::string_view description) {
    errors::ErrorRecord record;
    record.SUBSYSTEM = std::string(kTableDriver);
    record.SUBCODE = sub_code;
    record.GENCODE = gen_code;
    record.OSCODE = os_code;
    record.DESCRIPTION = std::string(description);
    record.FILENAME = std::string(file);
    return record;
}

void FailTable(const errors::ErrorRecord& record) {
    errors::RaiseError(record);
    throw errors::Abandon{record};
}

bool FailTableSoftly(errors::ErrorRecord record) {
    record.CANDEFAULT = true;
    return errors::RaiseError(record).fail_softly;
}

void FailTableCorrupt(std::string_view file) {
    FailTable(
        TableError(errors::kGenCorruption, errors::kSubCorruption, 0, file, "File danneggiato"));
}

void FailTableRead(std::string_view file, int os_code) {
    FailTable(TableError(kGenRead, kSubRead, os_code, file, "Errore di lettura"));
}

void FailTableWrite(std::string_view file, int os_code) {
    const int sub = os_code == errors::kOsDiskFull ? errors::kSubDiskFull : kSubWrite;
    FailTable(TableError(kGenWrite, sub, os_code, file, "Errore di scrittura"));
}

void FailTableCreate(std::string_view file, int os_code) {
    FailTable(TableError(kGenCreate, kSubCreate, os_code, file, "Errore di creazione"));
}

Date Today() {
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    if (local == nullptr) {
        return {};
    }
    return {local->tm_year + 1900, local->tm_mon + 1, local->tm_mday};
}

void WriteAll(TableFile& file, std::uint64_t offset, std::span<const unsigned char> bytes,
              std::string_view path) {
    if (const int os = file.Write(offset, bytes); os != 0) {
        FailTableWrite(path, os);
    }
}

std::vector<unsigned char> ReadExactly(TableFile& file, std::uint64_t offset, std::size_t size,
                                       std::string_view path) {
    std::vector<unsigned char> bytes(size);
    std::size_t count = 0;
    if (const int os = file.Read(offset, bytes, count); os != 0) {
        FailTableRead(path, os);
    }
    if (count != size) {
        FailTableCorrupt(path);
    }
    return bytes;
}

std::string ReadRecordBytes(TableFile& file, const DbfHeader& header, std::uint32_t number,
                            std::string_view path) {
    const std::vector<unsigned char> bytes =
        ReadExactly(file, header.RecordOffset(number), header.record_size, path);
    return std::string(bytes.begin(), bytes.end());
}

std::uint64_t SizeOf(TableFile& file, std::string_view path) {
    std::uint64_t size = 0;
    if (const int os = file.Size(size); os != 0) {
        FailTableRead(path, os);
    }
    return size;
}

void FlushAll(TableFile& file, std::string_view path) {
    if (const int os = file.Flush(); os != 0) {
        FailTableWrite(path, os);
    }
}

std::uint32_t PastMemo(std::uint32_t next_free, std::size_t length, std::uint32_t block_size,
                       std::string_view path) {
    const std::uint64_t past = std::uint64_t{next_free} + MemoBlocks(length, block_size);
    if (past > std::numeric_limits<std::uint32_t>::max()) {
        FailTableWrite(path, errors::kOsDiskFull);
    }
    return static_cast<std::uint32_t>(past);
}

}  // namespace kestrel::common
