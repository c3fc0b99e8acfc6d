// tables_demo: the common library's shared tables from the command line. Each run is
// one workstation: it starts like every program of the library (error handler,
// INIT, the framework), works on a table in its current directory through the
// library's waiting routines, and shows their real wait windows while another
// workstation holds what it needs.
//
//   tables_demo create TABLE                 a table CODICE C 10, NOME C 30, DATA D, NOTE M
//   tables_demo add TABLE COUNT USER         COUNT records under the semaphore, as USER
//   tables_demo delete TABLE CODE            deletes the record whose CODICE is CODE
//   tables_demo pack TABLE USER              removes the deleted records
//   tables_demo hold TABLE SECONDS MODE [cue]
//                                            holds a record / the table / the file
//                                            ("trying" before the wait, "holding",
//                                            then "released"); SECONDS may have a
//                                            fraction; with "cue" they are counted
//                                            from a line read on standard input
//   tables_demo list TABLE                   CODICE, NOME, DATA, NOTE, tab-separated
//
// TABLE is a file name (".DBF" added when it has none). Exit status 0 on success, 1
// with a one-line message on failure.
//
// With KESTREL_DEMO_PACK_STOP=N in the environment, a pack ends the process at its
// step N (1 to 6, table_pack.h) at once, with exit status 9, the way a crash or a
// power cut would end it there: no clean-up, no file closed by the program.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/program_start_win32.h"
#include "common/library_state.h"
#include "common/tables/shared_tables.h"
#include "common/tables/shared_tables_win32.h"
#include "common/tables/table_layer.h"
#include "common/tables/table_listing.h"
#include "errors/error_message.h"
#include "errors/raise.h"

namespace {

using namespace kestrel;
using common::Areas;
using common::DbfTable;
using common::FieldValue;

struct DemoFailure {
    std::string message;
};

// The table of the current work area; a failure when none is open.
DbfTable& Current() {
    DbfTable* table = Areas().Table();
    if (table == nullptr) {
        throw DemoFailure{"no table is open"};
    }
    return *table;
}

common::Date Today() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay};
}

std::string Trimmed(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::string TextOf(const std::optional<FieldValue>& value) {
    const std::string* text = value ? std::get_if<std::string>(&*value) : nullptr;
    return text != nullptr ? *text : std::string();
}

// USER + "-" + i, repeated (i mod 40) + 1 times, joined by single blanks.
std::string NoteFor(const std::string& user, int i) {
    const std::string piece = user + "-" + std::to_string(i);
    std::string note = piece;
    for (int n = 1; n < i % 40 + 1; ++n) {
        note += " " + piece;
    }
    return note;
}

double Seconds(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0 && value <= 1'000'000)) {
        throw DemoFailure{"bad seconds: " + text};
    }
    return value;
}

void Say(const char* line) {
    std::fputs(line, stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

int Number(const std::string& text, const char* what) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 1'000'000) {
        throw DemoFailure{std::string("bad ") + what + ": " + text};
    }
    return static_cast<int>(value);
}

constexpr UINT kStoppedStatus = 9;

// The platform's services, and the pack's stop for the tests of a crash.
class DemoServices final : public common::PlatformSharedTableServices {
  public:
    DemoServices() {
        const char* stop = std::getenv("KESTREL_DEMO_PACK_STOP");
        stop_at_ = stop != nullptr ? std::atoi(stop) : 0;
    }
    void PackStepReached(common::PackStep step) override {
        if (static_cast<int>(step) == stop_at_) {
            TerminateProcess(GetCurrentProcess(), kStoppedStatus);
        }
    }

  private:
    int stop_at_ = 0;  // set at construction, then read-only
};

void OpenShared(common::SharedTableServices& services, const std::string& table,
                bool read_only = false) {
    if (!common::DBOPEN(services, true, "", table, std::nullopt, true, read_only)) {
        throw DemoFailure{"cannot open " + table};
    }
}

void Create(common::SharedTableServices& services, const std::string& table) {
    common::DBGEN(services, table,
                  {{"CODICE", 'C', 10}, {"NOME", 'C', 30}, {"DATA", 'D', 8}, {"NOTE", 'M', 10}});
}

void Add(common::SharedTableServices& services, const std::string& table, int count,
         const std::string& user) {
    common::Library().user_name = user;
    common::SCREATE(services);
    OpenShared(services, table);
    const int area = Areas().Current();
    for (int i = 1; i <= count; ++i) {
        common::SLOCK(services);
        const std::string code = common::NEXTCODE(services, false);
        common::DBAPP(services);
        DbfTable& record = Current();
        record.Put("CODICE", code);
        record.Put("NOME", user + " " + std::to_string(i));
        record.Put("DATA", Today());
        record.Put("NOTE", NoteFor(user, i));
        record.Commit();
        record.UnlockAll();
        common::SUNLOCK();
        Areas().Select(area);
    }
}

void Delete(common::SharedTableServices& services, const std::string& table,
            const std::string& code) {
    OpenShared(services, table);
    DbfTable& records = Current();
    for (records.GoTop(); !records.Eof(); records.Skip()) {
        if (Trimmed(TextOf(records.Get("CODICE"))) == code) {
            common::DBDEL(services);
            return;
        }
    }
    throw DemoFailure{"not found"};
}

void Pack(common::SharedTableServices& services, const std::string& table,
          const std::string& user) {
    common::Library().user_name = user;
    common::SCREATE(services);  // the pack takes the semaphore, which must exist
    common::MPACK(services, table);
}

void Hold(common::SharedTableServices& services, const std::string& table, double seconds,
          const std::string& mode, bool cue) {
    if (mode == "exclusive") {
        Say("trying");
        if (!common::DBOPEN(services, true, "", table, std::nullopt, false, false)) {
            throw DemoFailure{"cannot open " + table};
        }
    } else if (mode == "record" || mode == "table") {
        OpenShared(services, table);
        Current().GoTo(1);
        Say("trying");
        common::DBLOCK(services, mode == "record");
    } else {
        throw DemoFailure{"bad mode: " + mode};
    }
    Say("holding");
    if (cue) {
        char line[16];
        if (std::fgets(line, sizeof line, stdin) == nullptr) {
            throw DemoFailure{"no cue on standard input"};
        }
    }
    Sleep(static_cast<DWORD>(seconds * 1000));
    common::DBCLOSE();
    Say("released");
}

void List(common::SharedTableServices& services, const std::string& table) {
    OpenShared(services, table, true);
    common::ListRecords(Current(), {"CODICE", "NOME", "DATA", "NOTE"}, [](std::string_view line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
    });
}

void Run(const std::vector<std::string>& args) {
    DemoServices services;
    const auto arg = [&args](std::size_t i) { return i < args.size() ? args[i] : std::string(); };
    const std::string& command = arg(0);
    const bool cue = command == "hold" && args.size() == 5 && args[4] == "cue";
    const std::size_t wanted = command == "create" || command == "list"   ? 2
                               : command == "hold" || command == "add"    ? 4
                               : command == "delete" || command == "pack" ? 3
                                                                          : 0;
    if (wanted == 0 || args.size() != wanted + (cue ? 1 : 0)) {
        throw DemoFailure{"usage: tables_demo create|add|delete|pack|hold|list TABLE ..."};
    }
    if (command == "create") {
        Create(services, arg(1));
    } else if (command == "add") {
        Add(services, arg(1), Number(arg(2), "count"), arg(3));
    } else if (command == "delete") {
        Delete(services, arg(1), arg(2));
    } else if (command == "pack") {
        Pack(services, arg(1), arg(2));
    } else if (command == "hold") {
        Hold(services, arg(1), Seconds(arg(2)), arg(3), cue);
    } else {
        List(services, arg(1));
    }
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // Windows-1252 bytes, lines ended by LF
    const std::vector<std::string> args(argv + 1, argv + argc);
    int status = 1;
    const auto demo = [&] {
        try {
            Run(args);
            status = 0;
        } catch (const DemoFailure& failure) {
            std::fprintf(stderr, "tables_demo: %s\n", failure.message.c_str());
        } catch (const errors::Abandon& abandoned) {
            std::fprintf(stderr, "tables_demo: %s\n",
                         errors::ERRORMESSAGE(abandoned.record).c_str());
        }
    };
    app::RunLibraryProgram([] {}, demo);  // no module values of its own
    return status;
}
