// kestrel-serve: the tape block server for Linux and macOS. The same tape image and
// command loop as the Windows tool, over a POSIX serial line, with the terminal as
// its window: the log lines on standard output, Esc or q (or Ctrl-C, SIGTERM) to
// stop.
//
//   kestrel-serve --port DEVICE TAPE
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
#include "serial/serial_line_posix.h"
#include "serve/serve_adapters_posix.h"
#include "serve/serve_options.h"
#include "serve/serve_tape.h"
#include "serve/session_events_posix.h"
#include "serve/signal_pipe_posix.h"
#include "serve/terminal_posix.h"
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

int Serve(const serve::ServeOptions& options, std::string image) {
    serve::SignalPipe signals;
    if (!signals.ok()) {
        Complain("cannot set up the signal handlers");
        return kPortNotOpened;
    }
    auto opened = serial::SerialLine::Open(options.device);
    if (auto* error = std::get_if<serial::SerialLine::OpenError>(&opened)) {
        Complain(error->message);
        return kPortNotOpened;
    }
    serial::SerialLine& line = std::get<serial::SerialLine>(opened);
    serve::TerminalKeys keys;

    app::TapeImage tape(std::move(image));
    app::ReceiveBuffer received;
    serve::SessionEvents events(line.fd(), keys.fd(), signals.read_fd(), received);
    serve::WriteProgress progress(stdout, isatty(STDOUT_FILENO) != 0, tape);
    serve::TerminalLog log(stdout, progress, events);
    serve::LineWriter writer(events, progress);
    serve::StopKey stop_key(events);
    serve::EventPump pump(events);
    serve::MonotonicPause pause;
    app::CommandLoop loop({writer, stop_key, pump, pause, app::kWaitForMessageOnly}, tape,
                          received);
    loop.KESTREL(line.fd(), log);
    progress.Clear();

    if (log.TapeEnded()) {
        return kTapeServed;
    }
    if (events.LineLost()) {
        Complain("the line " + options.device + " was lost: " + events.LostCause());
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
    serve::TapeFile file = serve::ReadTapeFile(options.tape, options.member);
    if (file.status != serve::TapeFile::Status::kLoaded) {
        Complain(file.message);
        return file.status == serve::TapeFile::Status::kRefused ? kTapeRefused : kTapeUnreadable;
    }
    if (options.mode == serve::ServeOptions::Mode::kList) {
        std::fputs(serve::TapeListing(file.image).c_str(), stdout);
        return 0;
    }
    for (const std::string& warning : serve::TapeWarnings(file.image, file.label)) {
        Complain("warning: " + warning);
    }
    return Serve(options, std::move(file.image));
}
