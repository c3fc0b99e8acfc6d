#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/session_services.h"
#include "serve/session_events_posix.h"
#include "serve/tape_deck.h"
#include "serve/terminal_posix.h"
#include "serve/write_progress.h"

namespace kestrel::serve {

// The tape deck on the program's terminal. It hears the session's keys and signals,
// chooses the entry for each "B" (holding it while paused), and shows the deck:
// - on a terminal, a screen of its own (the terminal's alternate screen), drawn
//   whole with ANSI sequences at the size TIOCGWINSZ gives, again whenever the deck
//   changes and at most every 100 ms while bytes go out;
// - otherwise, plain lines: the log's, a warning for an entry whose blocks are bad
//   or short, and "stopping after this entry" when a stop comes during one.
// Ctrl-Z gives the terminal back before the program stops; fg takes it again and
// redraws. Destroying the object leaves the screen, whatever the path out.
class DeckConsole : public app::EntryChooser, public SessionListener {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

    DeckConsole(std::FILE* out, bool screen, std::string title, TapeDeck& deck,
                SessionEvents& events, TerminalKeys& keys);
    ~DeckConsole() override { LeaveScreen(); }
    DeckConsole(const DeckConsole&) = delete;
    DeckConsole& operator=(const DeckConsole&) = delete;

    // The progress the screen shows (set once both exist).
    void Follow(WriteProgress& progress) { progress_ = &progress; }

    // A line of the command loop's log.
    void LogLine(std::string_view text);
    // The answer's bytes have moved.
    void Progressed();
    // Leaves the screen: the terminal shows what it showed before.
    void LeaveScreen();

    void BeforeNextEntry(app::TapeImage& tape) override;
    void KeyPressed(const KeyPress& key) override;
    void StopAsked() override;
    void Signalled(int signal_number) override;

  private:
    void EnterScreen();
    // Draws the screen if it changed; while bytes go out (`throttled`) at most every
    // kRedrawEvery.
    void Draw(bool throttled = false);
    void Print(std::string_view line);

    std::FILE* out_;
    const bool screen_;  // the output is a terminal
    std::string title_;
    TapeDeck& deck_;
    SessionEvents& events_;
    TerminalKeys& keys_;
    WriteProgress* progress_ = nullptr;
    bool on_screen_ = false;  // the alternate screen is showing
    std::string drawn_;       // the frame last drawn
    Clock::time_point drawn_at_{};
};

}  // namespace kestrel::serve
