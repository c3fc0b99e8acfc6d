#include "serve/deck_console_posix.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

#include "app/command_loop.h"
#include "serve/deck_screen.h"

namespace kestrel::serve {
namespace {

constexpr std::string_view kServeWaitingLine = "Waiting command (ESC or q to exit)...";
constexpr std::string_view kSendingLine = "Sending file ";
constexpr std::size_t kDefaultWidth = 80;
constexpr std::size_t kDefaultHeight = 24;

// The alternate screen with the cursor hidden, cleared; and back.
constexpr std::string_view kEnterScreen = "\x1b[?1049h\x1b[?25l\x1b[2J";
constexpr std::string_view kLeaveScreen = "\x1b[?25h\x1b[?1049l";

struct TerminalSize {
    std::size_t width = kDefaultWidth;
    std::size_t height = kDefaultHeight;
};

TerminalSize SizeOf(std::FILE* out) {
    TerminalSize size;
    winsize window{};
    if (ioctl(fileno(out), TIOCGWINSZ, &window) == 0) {
        // A terminal that does not know its size (a fresh pty) says 0.
        if (window.ws_col > 0) {
            size.width = window.ws_col;
        }
        if (window.ws_row > 0) {
            size.height = window.ws_row;
        }
    }
    return size;
}

std::string Warning(const TapeDeck& deck, std::size_t index) {
    const CatalogEntry& entry = deck.Catalog().entries[index];
    const std::string what = entry.check == BlockCheck::kBad
                                 ? "has a bad checksum"
                                 : "is cut short by the end of the file";
    return "warning: entry " + std::to_string(index + 1) + " " + ShownName(entry.name) + " " +
           what + "; served as it stands";
}

}  // namespace

DeckConsole::DeckConsole(std::FILE* out, bool screen, std::string title, TapeDeck& deck,
                         SessionEvents& events, TerminalKeys& keys)
    : out_(out),
      screen_(screen),
      title_(std::move(title)),
      deck_(deck),
      events_(events),
      keys_(keys) {
    if (screen_) {
        EnterScreen();
        Draw();
    }
}

void DeckConsole::EnterScreen() {
    std::fwrite(kEnterScreen.data(), 1, kEnterScreen.size(), out_);
    std::fflush(out_);
    on_screen_ = true;
    drawn_.clear();
}

void DeckConsole::LeaveScreen() {
    if (on_screen_) {
        std::fwrite(kLeaveScreen.data(), 1, kLeaveScreen.size(), out_);
        std::fflush(out_);
        on_screen_ = false;
    }
}

void DeckConsole::Print(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void DeckConsole::LogLine(std::string_view text) {
    // The loop's lines end in CR LF, as the log control wants them.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    const bool sending = text.starts_with(kSendingLine);
    if (sending && progress_ != nullptr) {
        progress_->StartLine();
    }
    if (on_screen_) {
        Draw();
        return;
    }
    if (screen_) {
        return;  // stopped in the background: the screen comes back with fg
    }
    Print(text == app::kWaitingLine ? kServeWaitingLine : text);
    if (sending && deck_.OnWire() &&
        deck_.Catalog().entries[*deck_.OnWire()].check != BlockCheck::kOk) {
        Print(Warning(deck_, *deck_.OnWire()));
    }
}

void DeckConsole::Progressed() {
    if (progress_ != nullptr && deck_.OnWire() && progress_->Out()) {
        deck_.EntryOut();
        Draw();
        return;
    }
    Draw(true);
}

void DeckConsole::BeforeNextEntry(app::TapeImage& tape) {
    if (deck_.Paused()) {
        // The request waits in the session's poll: keys come (Space goes on), and what
        // the remote sends meanwhile queues after this "B".
        deck_.HoldRequest(true);
        Draw();
        while (deck_.Paused() && !events_.StopAsked() && !events_.LineLost()) {
            events_.Pump(-1);
        }
        deck_.HoldRequest(false);
    }
    tape.MoveTo(deck_.Take());
    Draw();
}

void DeckConsole::KeyPressed(const KeyPress& key) {
    deck_.Press(key);
    Draw();
}

void DeckConsole::StopAsked() {
    if (!deck_.OnWire()) {
        return;  // the session ends at once
    }
    deck_.Stopping();
    if (screen_) {
        Draw();
    } else {
        Print("stopping after this entry");
    }
}

void DeckConsole::Signalled(int signal_number) {
    switch (signal_number) {
        case SIGWINCH:
            if (on_screen_) {
                std::fputs("\x1b[2J", out_);
                drawn_.clear();
                Draw();
            }
            break;
        case SIGTSTP:
            // Ctrl-Z: the terminal as the shell wants it, then stop as the default
            // action would; fg continues the program here.
            LeaveScreen();
            keys_.Release();
            events_.TakeKeysFrom(-1);
            kill(getpid(), SIGSTOP);
            break;
        case SIGCONT:
            keys_.Take();
            events_.TakeKeysFrom(keys_.fd());
            if (screen_ && !on_screen_) {
                EnterScreen();
                Draw();
            }
            break;
        default:
            break;
    }
}

void DeckConsole::Draw(bool throttled) {
    if (!on_screen_) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (throttled && now - drawn_at_ < kRedrawEvery) {
        return;
    }
    const TerminalSize size = SizeOf(out_);
    const DeckProgress progress = progress_ != nullptr ? progress_->Now() : DeckProgress{};
    std::string frame = "\x1b[H";
    bool first = true;
    for (const std::string& line : DeckScreen(deck_, progress, title_, size.width, size.height)) {
        if (!first) {
            frame += "\x1b[K\r\n";
        }
        first = false;
        frame += line;
    }
    frame += "\x1b[K\x1b[J";
    if (frame == drawn_) {
        return;
    }
    std::fwrite(frame.data(), 1, frame.size(), out_);
    std::fflush(out_);
    drawn_ = std::move(frame);
    drawn_at_ = now;
}

}  // namespace kestrel::serve
