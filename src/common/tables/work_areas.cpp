// Work areas: opening and creating tables, the areas that hold them, and the file
// names the layer gives them.
#include <chrono>
#include <thread>
#include <utility>

#include "base/ascii_case.h"
#include "common/tables/table_io.h"
#include "common/tables/table_layer.h"
#include "common/tables/table_pack.h"
#include "common/tables/table_settings.h"
#include "errors/raise.h"

namespace kestrel::common {

namespace {

std::size_t NameStart(std::string_view path) {
    const std::size_t separator = path.find_last_of("\\/:");
    return separator == std::string_view::npos ? 0 : separator + 1;
}

// Where a path's last extension starts (its last "." within the name part), or the
// path's end when the name has none: "CLI.OLD.DBF" is the name "CLI.OLD" with the
// extension ".DBF".
std::size_t ExtensionStart(std::string_view path) {
    const std::size_t start = NameStart(path);
    const std::size_t dot = path.rfind('.');
    return dot == std::string_view::npos || dot < start ? path.size() : dot;
}

// The name part of a path without its last extension.
std::string Stem(std::string_view path) {
    return std::string(path.substr(NameStart(path), ExtensionStart(path) - NameStart(path)));
}

}  // namespace

std::string TableFileName(std::string_view name) {
    std::string path(name);
    const std::size_t start = NameStart(path);
    if (Tables().settings.file_case == "UPPER") {
        path = path.substr(0, start) + base::UpperAscii(path.substr(start));
    }
    const std::size_t dot = path.find('.', start);
    if (dot == std::string::npos) {
        path += ".DBF";
    } else if (dot + 1 == path.size()) {
        path.pop_back();  // "NET." is the file NET
    }
    return path;
}

std::string MemoFileName(std::string_view table_file) {
    return std::string(table_file.substr(0, ExtensionStart(table_file))) +
           Tables().settings.memo_extension;
}

namespace {

struct NewFiles {
    std::unique_ptr<TableFile> table;
    std::unique_ptr<TableFile> memo;
};

// Creates the files of a table with that header; nothing (and no file touched) when
// the table exists and may not be replaced.
std::optional<NewFiles> CreateFiles(const std::string& path, const DbfHeader& header,
                                    bool replace) {
    OpenedFile table = CreateTableFile(path, replace);
    if (!table.file) {
        if (!replace && table.os_error == errors::kOsFileExists) {
            return std::nullopt;
        }
        FailTableCreate(path, table.os_error);
    }
    std::vector<unsigned char> bytes = EncodeHeader(header);
    bytes.push_back(kFileEnd);
    WriteAll(*table.file, 0, bytes, path);
    NewFiles files{std::move(table.file), nullptr};
    if (header.HasMemo()) {
        const std::string memo_path = MemoFileName(path);
        OpenedFile memo = CreateTableFile(memo_path, true);
        if (!memo.file) {
            FailTableCreate(memo_path, memo.os_error);
        }
        WriteAll(*memo.file, 0, EncodeMemoHeader(MemoHeader{}), memo_path);
        files.memo = std::move(memo.file);
    }
    return files;
}

}  // namespace

// --- Opening and creating -------------------------------------------------------------

namespace {

DbfHeader ReadHeader(TableFile& file, const std::string& path) {
    std::vector<unsigned char> prefix(kTablePrefixSize);
    std::size_t count = 0;
    if (const int os = file.Read(0, prefix, count); os != 0) {
        FailTableRead(path, os);
    }
    const std::optional<std::size_t> size =
        count == prefix.size() ? HeaderSizeOf(prefix) : std::nullopt;
    if (!size) {
        FailTableCorrupt(path);
    }
    std::optional<DbfHeader> header = ParseHeader(ReadExactly(file, 0, *size, path));
    if (!header) {
        FailTableCorrupt(path);
    }
    return *std::move(header);
}

}  // namespace

bool WorkAreas::Create(std::string_view name, const std::vector<FieldSpec>& structure,
                       bool replace) {
    const std::string path = TableFileName(name);
    const std::optional<DbfHeader> header = HeaderFor(structure, Today());
    if (!header) {
        FailTable(TableError(errors::kGenReportAndAbandon, kSubStructure, 0, path,
                             "Struttura non valida"));
    }
    return CreateFiles(path, *header, replace).has_value();
}

WorkAreas::WorkAreas(TableFileOpener opener)
    : pause_([](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); }),
      open_(std::move(opener)) {}
WorkAreas::~WorkAreas() = default;

namespace {

// Opens a table file once no pack of it is under way or left over: a leftover is
// settled first (table_pack.h), and a pack under way elsewhere answers a sharing
// violation, as an exclusive holder would. The marker is looked for after the
// table is open, so an open that succeeds cannot have slipped in between a pack's
// last use of the table and its replace.
OpenedFile OpenUnpackedTable(const TableFileOpener& open, const std::string& path,
                             FileAccess access, FileShare share) {
    for (;;) {
        OpenedFile opened = open(path, access, share);
        if (!opened.file || !TableFileExists(PackFilesFor(path).marker)) {
            return opened;
        }
        opened.file.reset();  // settling needs the table free
        int os_error = 0;
        switch (SettlePackLeftover(path, os_error)) {
            case PackLeftover::kUnderWay:
                return {nullptr, errors::kOsSharingViolation};
            case PackLeftover::kNone:
                if (os_error != 0) {
                    return {nullptr, os_error};
                }
                break;
            case PackLeftover::kSettled:
                break;
        }
    }
}

int LowestFreeArea(const std::map<int, std::unique_ptr<DbfTable>>& areas) {
    for (int area = 1; area <= kLastArea; ++area) {
        if (area != kSemaphoreArea && !areas.contains(area)) {
            return area;
        }
    }
    return 0;
}

}  // namespace

bool WorkAreas::Use(bool new_area, std::string_view driver, std::string_view name,
                    std::optional<std::string_view> alias, bool shared, bool read_only) {
    (void)driver;  // one driver: DBF tables with memo files
    Tables().settings.NETERR = false;
    if (new_area) {
        current_ = LowestFreeArea(areas_);
    }
    Close();
    const std::string path = TableFileName(name);
    const std::string chosen_alias = base::UpperAscii(alias ? *alias : Stem(path));
    if (AreaOf(chosen_alias) != 0) {
        FailTable(TableError(errors::kGenReportAndAbandon, kSubAliasInUse, 0, chosen_alias,
                             "Alias gi\xE0 in uso"));
    }
    const FileAccess access = read_only ? FileAccess::kReadOnly : FileAccess::kReadWrite;
    const FileShare share = shared ? FileShare::kShared : FileShare::kExclusive;
    OpenedFile table_file = OpenUnpackedTable(open_, path, access, share);
    if (!table_file.file) {
        FailTableSoftly(TableError(errors::kGenOpen, kSubOpen, table_file.os_error, path,
                                   "Errore di apertura"));
        return false;
    }
    auto table = std::unique_ptr<DbfTable>(new DbfTable());
    table->header_ = ReadHeader(*table_file.file, path);
    if (table->header_.HasProductionIndex() && !read_only) {
        // The layer keeps no index: changing such a table would leave its index stale.
        FailTable(TableError(errors::kGenReportAndAbandon, kSubProductionIndex, 0, path,
                             "Tabella con indice (.CDX): si apre solo in lettura"));
    }
    table->files_ = std::make_unique<DbfTable::Files>();
    table->files_->pause = pause_;
    table->files_->table = std::move(table_file.file);
    if (table->header_.HasMemo()) {
        const std::string memo_path = MemoFileName(path);
        OpenedFile memo = open_(memo_path, access, share);
        if (!memo.file) {
            FailTableSoftly(TableError(errors::kGenOpen, kSubOpen, memo.os_error, memo_path,
                                       "Errore di apertura"));
            return false;
        }
        const std::optional<MemoHeader> memo_header =
            ParseMemoHeader(ReadExactly(*memo.file, 0, kMemoHeaderSize, memo_path));
        if (!memo_header) {
            FailTableCorrupt(memo_path);
        }
        table->files_->memo = std::move(memo.file);
        table->files_->memo_path = memo_path;
        table->files_->memo_header = *memo_header;
    }
    table->path_ = path;
    table->alias_ = chosen_alias;
    table->shared_ = shared;
    table->read_only_ = read_only;
    table->GoTop();
    areas_[current_] = std::move(table);
    return true;
}

void WorkAreas::Select(int area) {
    if (area == 0) {
        area = LowestFreeArea(areas_);
    }
    if (area >= 1 && area <= kLastArea) {
        current_ = area;
    }
}

bool WorkAreas::Select(std::string_view alias) {
    const int area = AreaOf(alias);
    if (area == 0) {
        return false;
    }
    current_ = area;
    return true;
}

int WorkAreas::AreaOf(std::string_view alias) const {
    const std::string wanted = base::UpperAscii(alias);
    for (const auto& [area, table] : areas_) {
        if (table->Alias() == wanted) {
            return area;
        }
    }
    return 0;
}

DbfTable* WorkAreas::Table() {
    const auto found = areas_.find(current_);
    return found == areas_.end() ? nullptr : found->second.get();
}

bool WorkAreas::Used() const {
    return areas_.contains(current_);
}

void WorkAreas::Close() {
    const auto found = areas_.find(current_);
    if (found == areas_.end()) {
        return;
    }
    std::unique_ptr<DbfTable> table = std::move(found->second);
    areas_.erase(found);
    table->Commit();  // may fail; the table is closed either way
}

void WorkAreas::CloseAll() {
    while (!areas_.empty()) {
        current_ = areas_.begin()->first;
        try {
            Close();
        } catch (const errors::Abandon&) {
            // One table that cannot be written back does not keep the others open.
        }
    }
    current_ = 1;
}

void WorkAreas::SetPause(TablePause pause) {
    pause_ = std::move(pause);
}

bool WorkAreas::Append() {
    Tables().settings.NETERR = false;
    DbfTable* table = Table();
    return table != nullptr && table->Append();
}

WorkAreas& Areas() {
    TablesState& tables = Tables();
    if (!tables.work_areas) {
        tables.work_areas.reset(new WorkAreas());
    }
    return *tables.work_areas;
}

void WorkAreasDeleter::operator()(WorkAreas* areas) const {
    delete areas;
}

}  // namespace kestrel::common
