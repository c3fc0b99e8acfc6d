// The shared-table routines built on the waiting ones (shared_tables.cpp): the
// semaphore table's creation, DBGEN with its check of the drive, NEXTCODE, the pack
// (__MPACK) and the drive checks ISFULL and ISREADY.
#include <cctype>
#include <optional>
#include <string>

#include "common/tables/shared_tables.h"
#include "common/tables/shared_tables_scope.h"
#include "common/tables/table_file.h"
#include "common/tables/table_layer.h"
#include "common/tables/table_pack.h"
#include "errors/raise.h"
#include "base/blank.h"

namespace kestrel::common {

namespace {

constexpr std::uint64_t kCodeModulus = 10'000'000'000;
constexpr std::string_view kCodeField = "CODICE";
constexpr std::string_view kPackAlias = "MPACK";
constexpr std::string_view kSemaphoreCreationAlias = "SCREATE";

// --- Codes ---------------------------------------------------------------------------

bool IsEmptyCode(const std::optional<FieldValue>& value) {
    if (!value) {
        return true;
    }
    if (const std::string* text = std::get_if<std::string>(&*value)) {
        return base::IsBlank(*text);
    }
    if (const double* number = std::get_if<double>(&*value)) {
        return *number == 0;
    }
    return true;
}

// The numeric value of a code, reduced modulo kCodeModulus: the digits after any
// leading blanks, up to the first other character; no digits read as 0.
std::uint64_t CodeValue(const std::optional<FieldValue>& value) {
    if (!value) {
        return 0;
    }
    if (const double* number = std::get_if<double>(&*value)) {
        return *number > 0 ? static_cast<std::uint64_t>(*number) % kCodeModulus : 0;
    }
    const std::string* text = std::get_if<std::string>(&*value);
    if (text == nullptr) {
        return 0;
    }
    std::uint64_t code = 0;
    std::size_t at = text->find_first_not_of(' ');
    for (; at < text->size() && std::isdigit(static_cast<unsigned char>((*text)[at])); ++at) {
        code = (code * 10 + static_cast<std::uint64_t>((*text)[at] - '0')) % kCodeModulus;
    }
    return code;
}

// --- Creating ------------------------------------------------------------------------

std::string DriveOf(SharedTableServices& services, std::string_view file) {
    if (file.size() >= 2 && file[1] == ':') {
        return std::string(file.substr(0, 2));
    }
    std::string drive = services.CurrentDrive();
    return drive == "\\" ? std::string() : drive;
}

errors::ErrorRecord CancelledCreation(std::string_view file) {
    errors::ErrorRecord record;
    record.DESCRIPTION = "Creazione annullata";
    record.FILENAME = std::string(file);
    record.OPERATION = "DBGEN";
    return record;
}

// DBGEN's check of the drive, then the creation; false when the table exists and
// may not be replaced.
bool CreateOnCheckedDrive(SharedTableServices& services, std::string_view file,
                          const std::vector<FieldSpec>& structure, std::uint64_t min_free,
                          bool replace) {
    if (ISFULL(services, DriveOf(services, file), min_free)) {
        throw errors::Abandon{CancelledCreation(file)};
    }
    return Areas().Create(file, structure, replace);
}

// --- Packing -------------------------------------------------------------------------

errors::ErrorRecord PackError(const std::string& file, int os_code) {
    errors::ErrorRecord record;
    record.DESCRIPTION = "Compattazione non riuscita";
    record.FILENAME = file;
    record.OPERATION = "__MPACK";
    record.OSCODE = os_code;
    return record;
}

}  // namespace

void SCREATE(SharedTableServices& services) {
    if (TableFileExists("NET") || TableFileExists(std::string(kSharedFolderMark))) {
        return;
    }
    try {
        const std::vector<FieldSpec> structure{FieldSpec{"LOCK", 'C', 1, 0}};
        // Made without replacing: when another workstation made it first, its table,
        // with the record it appends, is the one semaphore.
        if (!CreateOnCheckedDrive(services, kSemaphoreTable, structure, kDefaultMinFree,
                                  /*replace=*/false)) {
            return;
        }
        AreaKeeper keeper;
        if (!DBOPEN(services, true, "", kSemaphoreTable, kSemaphoreCreationAlias, true, false)) {
            services.EndProgram();
        }
        DBAPP(services);
        DBCLOSE(kSemaphoreCreationAlias);
    } catch (const errors::Abandon&) {
        services.EndProgram();
    }
}

void DBGEN(SharedTableServices& services, std::string_view cFile,
           const std::vector<FieldSpec>& aStruct, std::string_view cDriver,
           std::uint64_t nMinFree) {
    static_cast<void>(cDriver);  // the table layer has one driver
    CreateOnCheckedDrive(services, cFile, aStruct, nMinFree, /*replace=*/true);
}

std::string NEXTCODE(SharedTableServices& services, bool lLock) {
    DbfTable& table = CurrentTable("NEXTCODE");
    const std::uint32_t noted = table.RecNo();
    if (lLock) {
        DBLOCK(services, false);
    }
    // The natural order is the table layer's only order, so there is none to switch.
    const std::uint64_t last = ReleasingLocksOnFailure(table, [&] {
        table.GoBottom();
        while (IsEmptyCode(table.Get(kCodeField)) && !table.Bof()) {
            table.Skip(-1);
        }
        const std::uint64_t value = CodeValue(table.Get(kCodeField));
        table.GoTo(noted);
        return value;
    });
    if (lLock) {
        DBLOCK(services, true);
    } else {
        table.UnlockAll();
    }
    return std::to_string((last + 1) % kCodeModulus);
}

// __MPACK in the library (C++ keeps names with two leading underscores). The table
// layer packs (table_pack.h); here are the semaphore, the waiting open and the
// operator's message, which names the file that holds the packed data and comes
// once the table, the pack's marker and the semaphore are all released.
void MPACK(SharedTableServices& services, std::string_view cFile) {
    const std::string table = TableFileName(cFile);
    std::optional<PackFailure> failure;
    {
        SLOCK(services);
        const OnScopeExit release([] { SUNLOCK(); });  // closing its area releases it
        AreaKeeper keeper;
        if (!DBOPEN(services, true, "", table, kPackAlias, false, false)) {
            throw errors::Abandon{PackError(table, 0)};
        }
        // Tables on the shared disk are copied into through their exclusive handles:
        // no other workstation opens them between the table's copy and the memo's.
        const PackReplace how = TableFileExists(std::string(kSharedFolderMark))
                                    ? PackReplace::kCopy
                                    : PackReplace::kRename;
        failure = PackCurrentTable(Areas(), how,
                                   [&services](PackStep step) { services.PackStepReached(step); });
    }
    if (failure) {
        services.Inform(std::string(kCannotCopy) + failure->source + " in " + failure->target);
        throw errors::Abandon{PackError(failure->target, failure->os_error)};
    }
}

bool ISFULL(SharedTableServices& services, std::string_view cDrive, std::uint64_t nMinFree) {
    if (cDrive.empty()) {
        return false;
    }
    if (!ISREADY(services, cDrive)) {
        return true;
    }
    const std::optional<std::uint64_t> free = services.FreeSpace(std::string(cDrive));
    if (!free || *free >= nMinFree) {
        return false;
    }
    SUNLOCK();
    services.Inform(kDiskFull);
    return true;
}

bool ISREADY(SharedTableServices& services, std::string_view cDrive, bool lMessage) {
    const std::string noted = services.CurrentDirectory();
    if (services.ChangeDirectory(std::string(cDrive) + ".")) {
        services.ChangeDirectory(noted);
        return true;
    }
    SUNLOCK();
    if (lMessage) {
        services.Inform(kDiskNotReady);
    }
    return false;
}

}  // namespace kestrel::common
