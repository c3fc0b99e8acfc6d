#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/tables/dbf_format.h"
#include "common/tables/table_pack.h"

namespace kestrel::common {

// The library's shared-table routines: open, lock, append and delete so that a
// conflict with another workstation never becomes an error. Each conflict is tried
// again, silently for three seconds, then behind the please-wait window until it
// succeeds. They run on the user-interface thread and wait by trying again (the table
// layer itself never waits), pausing between tries with a back-off (backoff.h);
// DBOPEN handles window messages during its pauses, DBLOCK and DBAPP do not.
//
// The semaphore: a one-record table NET (the file "NET", no extension) in
// C:\MARLIN when "C:\MARLIN\NET" exists, else in the current directory, opened in
// work area 65534 and record-locked by SLOCK while the library's user name is not
// blank; SUNLOCK releases it (the error handler calls it before every message).

inline constexpr std::string_view kWaitSystemBusy = "E' in corso un'operazione di sistema...";
inline constexpr std::string_view kWaitSwitchOff = "Spegnere tutti i terminali...";
inline constexpr std::string_view kWaitSwitchOffTitle = "Attenzione";
inline constexpr std::string_view kWaitMomentarilyBusy =
    "Il sistema \xE8 momentaneamente occupato...";
inline constexpr std::string_view kDiskFull = "Spazio su disco insufficiente.";
inline constexpr std::string_view kDiskNotReady = "Disco non pronto.";
inline constexpr std::string_view kCannotCopy = "Impossibile copiare il file ";

inline constexpr std::string_view kSharedFolderMark = "C:\\MARLIN\\NET";
inline constexpr std::string_view kSharedFolder = "C:\\MARLIN\\";
inline constexpr double kSilentTrySeconds = 3;
inline constexpr std::uint64_t kDefaultMinFree = 8192;

// What the routines need of the platform and of the rest of the library.
class SharedTableServices {
  public:
    virtual ~SharedTableServices() = default;
    // The seconds since midnight of the local clock, with their fraction (at least
    // to the millisecond).
    virtual double SecondsSinceMidnight() = 0;
    // Waits that long, handling no window messages (between DBLOCK's tries).
    virtual void Pause(std::chrono::milliseconds pause) = 0;
    // Waits that long while handling the window messages that arrive, each as soon
    // as it arrives (between DBOPEN's tries). A quit message met there is left for
    // the program's own loop and the rest of the pause is waited without messages.
    virtual void PauseHandlingMessages(std::chrono::milliseconds pause) = 0;
    // The open please-wait window's text (CURMSG), nothing when none is open.
    virtual std::optional<std::string> WaitText() = 0;
    // Opens the please-wait window (POPMSG without a kind); the title defaults to
    // "Attendere".
    virtual void OpenWait(std::string_view text, std::optional<std::string_view> title) = 0;
    virtual void CloseWait() = 0;
    // Disables the active window; EnableDisabledWindow enables it again.
    virtual void DisableActiveWindow() = 0;
    virtual void EnableDisabledWindow() = 0;
    // POPMSG kind 1.
    virtual void Inform(std::string_view text) = 0;
    // The current directory as drive, ":", "\" and path ("C:\WORK"); changing it.
    virtual std::string CurrentDirectory() = 0;
    virtual bool ChangeDirectory(const std::string& path) = 0;
    // The current drive ("C:"), or "\" when the platform names none.
    virtual std::string CurrentDrive() = 0;
    // The free bytes of a drive ("C:"), nothing when that cannot be read.
    virtual std::optional<std::uint64_t> FreeSpace(const std::string& drive) = 0;
    // A new temporary name (GETNEWFNAME).
    virtual std::string NewTempName() = 0;
    // Posts the quit message and ends the program at once (throws errors::EndProgram).
    [[noreturn]] virtual void EndProgram() = 0;
    // __MPACK has reached that step (table_pack.h); a test program may end itself
    // here to leave what a crash at that moment leaves.
    virtual void PackStepReached(PackStep step) { static_cast<void>(step); }
};

// DBOPEN: opens a table, waiting as long as another workstation prevents it.
// Answers whether the table is open (an open that fails otherwise abandons).
bool DBOPEN(SharedTableServices& services, bool lNewArea, std::string_view cDriver,
            std::string_view cName, std::optional<std::string_view> cAlias, bool lShared,
            bool lReadOnly);
// DBLOCK: locks the current record (true) or the whole table (false), waiting as
// long as needed.
void DBLOCK(SharedTableServices& services, bool lRecord);
// DBAPP: appends a blank record and leaves it locked, waiting as needed.
void DBAPP(SharedTableServices& services);
// DBDEL: deletes the current record and moves to the record that followed it.
void DBDEL(SharedTableServices& services, bool lCommit = true);
// DBCLOSE: closes the work area of that alias (default: the current one's) and
// deletes its view index.
void DBCLOSE(std::optional<std::string_view> cAlias = std::nullopt);
// NETUSED: true when the file exists and cannot be opened for exclusive use.
bool NETUSED(std::string_view cFile);
// SLOCK / SUNLOCK: take / release the shared semaphore.
void SLOCK(SharedTableServices& services);
void SUNLOCK();
// SCREATE: creates the semaphore table where none exists; ends the program when
// that fails.
void SCREATE(SharedTableServices& services);
// DBGEN: creates a table after checking its drive; abandons when the drive is not
// ready or full.
void DBGEN(SharedTableServices& services, std::string_view cFile,
           const std::vector<FieldSpec>& aStruct, std::string_view cDriver = {},
           std::uint64_t nMinFree = kDefaultMinFree);
// NEXTCODE: the next free code of the current table, from its field "CODICE".
std::string NEXTCODE(SharedTableServices& services, bool lLock = true);
// __MPACK: removes the deleted records of a table by copying it; abandons when it
// fails. (Spelled with two leading underscores in the library.)
void MPACK(SharedTableServices& services, std::string_view cFile);
// ISFULL: true (after a message) when the drive is not ready or has less free
// space than nMinFree bytes.
bool ISFULL(SharedTableServices& services, std::string_view cDrive,
            std::uint64_t nMinFree = kDefaultMinFree);
// ISREADY: true when the drive can be made current.
bool ISREADY(SharedTableServices& services, std::string_view cDrive, bool lMessage = true);

// The view index of a work area: TempPrefix, "VIEW", the area and ".NTX", in the
// library's temporary directory.
std::string ViewIndexName(int area);

// The seconds that have passed from `start` to `now` on the seconds-since-midnight
// clock, across midnight.
double SecondsSince(double start, double now);

// The longest pause between DBOPEN's tries after it has waited that long. Under Wine
// every open refused for sharing costs the wineserver a file descriptor while a
// byte-range lock exists on the file, so a long wait must try seldom: 50 ms for the
// first 10 s, then 1 s, then 5 s from 10 minutes on (about 1,400 tries in an hour).
std::chrono::milliseconds OpenPauseCeiling(std::chrono::milliseconds waited);

}  // namespace kestrel::common
