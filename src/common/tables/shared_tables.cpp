// The library's shared-table routines over the table layer.
//
// Waiting. The table layer never waits: an open that another workstation's share
// mode prevents, a lock another holds, an append lock in use elsewhere, each fails
// at once (the open and the append softly, through the error handler, which sets
// NETERR). So every routine here waits by trying again, with a paced back-off
// between tries (1 ms doubling to 50 ms): a waiting workstation costs its machine,
// the wineserver or the file server a few tries a second, and still notices a
// release within the ceiling. DBLOCK and DBAPP first try silently for
// kSilentTrySeconds by the seconds-since-midnight clock, fraction included, counted
// across midnight (SecondsSince), so that midnight inside the window neither
// stretches it for ever nor cuts it short; then they try on behind the please-wait
// window until they succeed. DBOPEN goes behind the window at its first conflict and
// handles the window messages during its pauses, woken by each message as it
// arrives, so the operator sees the program alive while another workstation holds a
// table exclusively; its ceiling rises with the time waited (OpenPauseCeiling),
// because a refused open is not free under Wine.
//
// Screens. A please-wait window that was open when a routine began to wait (CURMSG)
// is closed while the routine shows its own text and opened again afterwards. The
// waiting screen is an object: leaving on a failure closes the routine's window and
// enables the disabled window again, so no failure leaves the program disabled.
//
// Locks. A routine that took a lock and then fails releases it on the way out, so
// that a failure here never leaves other workstations waiting on this one.
//
// Work areas. Routines that use another work area (the semaphore's, a closing
// alias's, the pack's) restore the caller's selection on every way out.
#include "common/tables/shared_tables.h"

#include <cmath>
#include <functional>
#include <optional>
#include <utility>

#include "base/ascii_case.h"
#include "common/tables/backoff.h"
#include "common/tables/shared_tables_scope.h"
#include "common/library_state.h"
#include "common/startup_procedures.h"
#include "common/tables/table_file.h"
#include "common/tables/table_layer.h"
#include "common/tables/table_pack.h"
#include "common/tables/table_settings.h"
#include "errors/raise.h"
#include "base/blank.h"

namespace kestrel::common {

namespace {

constexpr double kSecondsPerDay = 86400;

// The runtime's error for a table operation in a work area that holds no table
// (SUBSYSTEM "DBCMD").
constexpr int kSubWorkareaNotInUse = 2001;
constexpr int kGenNoWorkarea = 35;

// --- Small helpers -------------------------------------------------------------------

// The name part of a path: the text after its last separator.
std::string FileNameOf(std::string_view path) {
    const std::size_t separator = path.find_last_of("\\/");
    return std::string(separator == std::string_view::npos ? path : path.substr(separator + 1));
}

bool NoUserLoggedIn() {
    return base::IsBlank(Library().user_name);
}

bool NetworkError() {
    return Tables().settings.NETERR;
}

// --- Waiting -------------------------------------------------------------------------

// What a routine shows while it waits.
struct WaitScreen {
    std::string_view text;
    std::optional<std::string_view> title;  // nothing: the default "Attendere"
    bool disable_active_window = false;
};

constexpr WaitScreen kMomentarilyBusy{kWaitMomentarilyBusy, std::nullopt, false};

// Shows the routine's waiting screen in place of the noted wait window while
// `wait` runs; afterwards closes it, enables the disabled window again and reopens
// the noted text. A failure inside `wait` leaves the screen closed and the window
// enabled, without reopening the noted text.
template <typename Wait>
void BehindWaitScreen(SharedTableServices& services, const std::optional<std::string>& noted,
                      const WaitScreen& screen, Wait&& wait) {
    if (noted && !noted->empty()) {
        services.CloseWait();
    }
    {
        std::optional<OnScopeExit> enable;
        if (screen.disable_active_window) {
            services.DisableActiveWindow();
            enable.emplace([&services] { services.EnableDisabledWindow(); });
        }
        services.OpenWait(screen.text, screen.title);
        const OnScopeExit close([&services] { services.CloseWait(); });
        wait();
    }
    if (noted) {
        services.OpenWait(*noted, std::nullopt);
    }
}

// Tries `attempt` again, pausing by `backoff` between tries, for kSilentTrySeconds;
// true on the first success.
template <typename Attempt>
bool TriedSilently(SharedTableServices& services, Backoff& backoff, Attempt&& attempt) {
    const double start = services.SecondsSinceMidnight();
    while (!attempt()) {
        if (SecondsSince(start, services.SecondsSinceMidnight()) >= kSilentTrySeconds) {
            return false;
        }
        services.Pause(backoff.Next());
    }
    return true;
}

template <typename Attempt>
void UntilSucceeds(SharedTableServices& services, Backoff& backoff, Attempt&& attempt) {
    while (!attempt()) {
        services.Pause(backoff.Next());
    }
}

// An append that failed for another reason than a conflict, and was not abandoned by
// the error handler already.
errors::ErrorRecord AppendFailure() {
    errors::ErrorRecord record;
    record.SUBSYSTEM = "DBCMD";
    record.GENCODE = errors::kGenReportAndAbandon;
    record.DESCRIPTION = "Aggiunta non riuscita";
    record.OPERATION = "DBAPP";
    return record;
}

// --- Opening -------------------------------------------------------------------------

// Hands the library's password to the table just opened when it is a protected one.
void HandPasswordIfProtected() {
    const LibraryState& library = Library();
    DbfTable* table = Areas().Table();
    if (library.password.empty() || table == nullptr) {
        return;
    }
    const std::string name = base::UpperAscii(FileNameOf(table->Path()));
    for (const std::string& protected_table : library.protected_tables) {
        if (base::UpperAscii(protected_table) == name) {
            table->SetInfo(kInfoPassword, library.password);
            return;
        }
    }
}

// --- The semaphore -------------------------------------------------------------------

std::string SemaphoreTableName() {
    const bool shared_folder = TableFileExists(std::string(kSharedFolderMark));
    return std::string(shared_folder ? kSharedFolder : std::string_view()) +
           std::string(kSemaphoreTable);
}

}  // namespace

DbfTable& CurrentTable(std::string_view operation) {
    if (DbfTable* table = Areas().Table()) {
        return *table;
    }
    errors::ErrorRecord record;
    record.SUBSYSTEM = "DBCMD";
    record.SUBCODE = kSubWorkareaNotInUse;
    record.GENCODE = kGenNoWorkarea;
    record.DESCRIPTION = "Workarea not in use";
    record.OPERATION = std::string(operation);
    errors::RaiseError(record);
    throw errors::Abandon{record};
}

double SecondsSince(double start, double now) {
    const double passed = std::fmod(now - start, kSecondsPerDay);
    return passed < 0 ? passed + kSecondsPerDay : passed;
}

std::chrono::milliseconds OpenPauseCeiling(std::chrono::milliseconds waited) {
    using namespace std::chrono_literals;
    if (waited < 10s) {
        return Backoff::kCeiling;
    }
    return waited < 10min ? 1000ms : 5000ms;
}

std::string ViewIndexName(int area) {
    return Library().temp_directory + kTempPrefix + "VIEW" + std::to_string(area) + ".NTX";
}

bool DBOPEN(SharedTableServices& services, bool lNewArea, std::string_view cDriver,
            std::string_view cName, std::optional<std::string_view> cAlias, bool lShared,
            bool lReadOnly) {
    const std::optional<std::string> noted = services.WaitText();
    const auto open = [&] {
        return Areas().Use(lNewArea, cDriver, cName, cAlias, lShared, lReadOnly);
    };
    bool opened = open();
    if (!opened && NetworkError()) {
        const WaitScreen screen = lShared ? WaitScreen{kWaitSystemBusy, std::nullopt, true}
                                          : WaitScreen{kWaitSwitchOff, kWaitSwitchOffTitle, true};
        BehindWaitScreen(services, noted, screen, [&] {
            // Only a conflict is worth another try: a failure of any other kind would
            // fail the same way for ever.
            Backoff backoff;
            do {
                backoff.SetCeiling(OpenPauseCeiling(backoff.Waited()));
                services.PauseHandlingMessages(backoff.Next());
                opened = open();
            } while (!opened && NetworkError());
            if (opened) {
                HandPasswordIfProtected();
            }
        });
    } else if (opened) {
        HandPasswordIfProtected();
    }
    return opened;
}

void DBLOCK(SharedTableServices& services, bool lRecord) {
    const std::optional<std::string> noted = services.WaitText();
    DbfTable& table = CurrentTable("DBLOCK");
    const auto lock = [&] { return lRecord ? table.LockRecord(0) : table.LockTable(); };
    Backoff backoff;
    if (TriedSilently(services, backoff, lock)) {
        return;
    }
    BehindWaitScreen(services, noted, kMomentarilyBusy,
                     [&] { UntilSucceeds(services, backoff, lock); });
}

void DBAPP(SharedTableServices& services) {
    const std::optional<std::string> noted = services.WaitText();
    DBLOCK(services, false);
    DbfTable& table = CurrentTable("DBAPP");
    // A conflict is tried again; any other failure abandons with its own error, and
    // the table lock taken above goes with it.
    const auto append = [] {
        if (Areas().Append()) {
            return true;
        }
        if (!NetworkError()) {
            throw errors::Abandon{AppendFailure()};
        }
        return false;
    };
    ReleasingLocksOnFailure(table, [&] {
        Backoff backoff;
        if (TriedSilently(services, backoff, append)) {
            DBLOCK(services, true);
            return;
        }
        BehindWaitScreen(services, noted, kMomentarilyBusy, [&] {
            UntilSucceeds(services, backoff, append);
            DBLOCK(services, true);
        });
    });
}

void DBDEL(SharedTableServices& services, bool lCommit) {
    DbfTable& table = CurrentTable("DBDEL");
    if (table.Eof()) {
        return;
    }
    DBLOCK(services, false);
    ReleasingLocksOnFailure(table, [&] {
        const std::uint32_t current = table.RecNo();
        table.Skip(1);
        const std::uint32_t following = table.RecNo();
        table.GoTo(current);
        table.Delete();
        if (lCommit) {
            table.Commit();
            table.GoTo(current);
        }
        table.GoTo(following);
    });
    table.UnlockAll();
}

void DBCLOSE(std::optional<std::string_view> cAlias) {
    std::string alias;
    if (cAlias) {
        alias = *cAlias;
    } else if (const DbfTable* table = Areas().Table()) {
        alias = table->Alias();
    } else {
        return;
    }
    const int area = Areas().AreaOf(alias);
    if (area == 0) {
        return;
    }
    AreaKeeper keeper;
    Areas().Select(area);
    Areas().Close();
    RemoveTableFile(ViewIndexName(area));  // most areas never had one
}

bool NETUSED(std::string_view cFile) {
    const std::string path = TableFileName(cFile);
    if (!TableFileExists(path)) {
        return false;
    }
    return OpenTableFile(path, FileAccess::kReadOnly, FileShare::kExclusive).file == nullptr;
}

void SLOCK(SharedTableServices& services) {
    if (NoUserLoggedIn()) {
        return;
    }
    AreaKeeper keeper;
    Areas().Select(kSemaphoreArea);
    DBOPEN(services, false, "", SemaphoreTableName(), std::nullopt, true, false);
    DBLOCK(services, true);
}

void SUNLOCK() {
    if (NoUserLoggedIn()) {
        return;
    }
    AreaKeeper keeper;
    Areas().Select(kSemaphoreArea);
    Areas().Close();
}

}  // namespace kestrel::common
