// kestrel-serve: the tape block server for Linux and macOS. The same tape image and
// command loop as the Windows tool, over a POSIX serial line, with the terminal as
// its window: a tape deck whose keys choose the entry the next request gets (on a
// terminal its own screen, otherwise the log lines on standard output), Esc or q (or
// Ctrl-C, SIGTERM) to stop.
//
//   kestrel-serve --port DEVICE [--from N] TAPE
//   kestrel-serve --port tcp:HOST:PORT TAPE    (a serial-over-network bridge)
//   kestrel-serve --listen [ADDR:]PORT TAPE    (a machine that calls in)
//   kestrel-serve --list TAPE
//
// One thread. Every wait of the session (for a command, for room on the line, for
// the line to drain) sleeps in one poll() over the line, the keyboard and the
// signal self-pipe, so an idle session costs no processor time, and received bytes
// are taken in even while an entry goes out.
#include <unistd.h>

#include <cstdio>
#include <span>
#include <string>
#include <variant>

#include "app/command_loop.h"
#include "app/receive_buffer.h"
#include "app/tape_image.h"
#include "serial/tape_line.h"
#include "serve/deck_console_posix.h"
#include "serve/serve_adapters_posix.h"
#include "serve/serve_line_posix.h"
#include "serve/serve_options.h"
#include "serve/serve_tape.h"
#include "serve/session_events_posix.h"
#include "serve/signal_pipe_posix.h"
#include "serve/tape_catalog.h"
#include "serve/tape_deck.h"
#include "serve/terminal_posix.h"
#include "serve/version.h"
#include "serve/write_progress.h"

namespace {

using namespace kestrel;

enum ExitStatus {
    kTapeServed = 0,
    kStopped = 1,
    kPortNotOpened = 2,
    kLineLost = 3,
    kUsage = 64,           // EX_USAGE
    kTapeRefused = 65,     // EX_DATAERR
    kTapeUnreadable = 66,  // EX_NOINPUT
};

void Complain(const std::string& text) {
    std::fprintf(stderr, "kestrel-serve: %s\n", text.c_str());
}

// "serving TAPE (5 entries) on DEVICE at 115200 baud, 8N2"; over the network the
// bytes go as a raw stream, the line settings being the bridge's or the modem's.
std::string StartUpLine(const serve::ServeOptions& options, const serve::ServeLine& line,
                        std::size_t entries) {
    const bool network = options.connect_to || options.listen_on;
    return "serving " + options.tape + " (" + std::to_string(entries) +
           (entries == 1 ? " entry" : " entries") + ") on " + line.name() +
           (network ? ", a raw TCP stream"
                    : " at " + std::to_string(serial::kTapeLineBaud) + " baud, 8N2");
}

int Serve(const serve::ServeOptions& options, std::string image, serve::TapeCatalog catalog) {
    serve::SignalPipe signals;
    if (!signals.ok()) {
        Complain("cannot set up the signal handlers");
        return kPortNotOpened;
    }
    serve::TerminalKeys keys;  // first: a wait for the network ends at a stop key too
    auto opened = serve::ServeLine::Open(options, {keys.fd(), signals.read_fd()}, stdout);
    if (auto* error = std::get_if<serve::ServeLine::OpenError>(&opened)) {
        if (!error->stop_cause.empty()) {
            Complain("stopped (" + error->stop_cause + ")");
            return kStopped;
        }
        Complain(error->message);
        return kPortNotOpened;
    }
    serve::ServeLine& line = std::get<serve::ServeLine>(opened);
    const std::string start_up = StartUpLine(options, line, catalog.entries.size());
    std::printf("%s\n", start_up.c_str());
    std::fflush(stdout);

    app::TapeImage tape(std::move(image));
    app::ReceiveBuffer received;
    serve::SessionEvents events(line.fd(), keys.fd(), signals.read_fd(), received,
                                line.queue().HangUpCause());
    serve::TapeDeck deck(std::move(catalog), options.from > 0 ? options.from - 1 : 0);
    bool tape_ended = false;
    {
        serve::DeckConsole console(stdout, isatty(STDOUT_FILENO) != 0, start_up, deck, events,
                                   keys);
        events.Listen(&console);
        serve::WriteProgress progress(tape, [&console] { console.Progressed(); });
        console.Follow(progress);
        serve::TerminalLog log(console, events);
        serve::LineWriter writer(events, progress, line.queue());
        serve::StopKey stop_key(events);
        serve::EventPump pump(events);
        serve::MonotonicPause pause;
        app::CommandLoop loop({writer, stop_key, pump, pause, app::kWaitForMessageOnly, &console},
                              tape, received);
        loop.KESTREL(line.fd(), log);
        events.Listen(nullptr);
        tape_ended = log.TapeEnded();
    }  // the console leaves its screen

    if (tape_ended) {
        std::printf("tape over: end byte sent\n");
        return kTapeServed;
    }
    if (events.LineLost()) {
        Complain("the line " + line.name() + " was lost: " + events.LostCause());
        return kLineLost;
    }
    Complain("stopped (" + (events.StopCause().empty() ? "Esc" : events.StopCause()) + ")");
    return kStopped;
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = serve::ParseServeOptions(std::span<const char* const>(argv, argc));
    if (const auto* error = std::get_if<serve::UsageError>(&parsed)) {
        Complain(error->message);
        std::fputs(serve::kServeUsage.data(), stderr);
        return kUsage;
    }
    const serve::ServeOptions& options = std::get<serve::ServeOptions>(parsed);
    if (options.mode == serve::ServeOptions::Mode::kHelp) {
        std::fputs(serve::kServeUsage.data(), stdout);
        return 0;
    }
    if (options.mode == serve::ServeOptions::Mode::kVersion) {
        std::printf("kestrel-serve %s\n", serve::kVersion);
        return 0;
    }
    serve::TapeFile file = serve::ReadTapeFile(options.tape, options.member);
    if (file.status != serve::TapeFile::Status::kLoaded) {
        Complain(file.message);
        return file.status == serve::TapeFile::Status::kRefused ? kTapeRefused : kTapeUnreadable;
    }
    if (options.mode == serve::ServeOptions::Mode::kList) {
        std::fputs(serve::TapeListing(file.catalog).c_str(), stdout);
        return 0;
    }
    serve::TapeCatalog& catalog = file.catalog;
    if (options.from > catalog.entries.size()) {
        Complain("--from " + std::to_string(options.from) + ": the tape has " +
                 std::to_string(catalog.entries.size()) +
                 (catalog.entries.size() == 1 ? " entry" : " entries"));
        return kUsage;
    }
    for (const std::string& warning : serve::TapeWarnings(catalog, file.label)) {
        Complain("warning: " + warning);
    }
    return Serve(options, std::move(file.image), std::move(catalog));
}
