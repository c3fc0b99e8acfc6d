#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "app/receive_buffer.h"
#include "app/session_services.h"
#include "app/tape_image.h"
#include "serial/port_handle.h"

namespace kestrel::app {

inline constexpr char kCommandNextEntry = 'B';
inline constexpr char kStartByte = 0x00;
inline constexpr char kEndByte = 0x09;
inline constexpr int kBlockPauseMs = 10;
// Passes of the wait that handled messages after which the log shows its new lines
// even if the line never went quiet.
inline constexpr int kLogCatchUpPasses = 50;
// How long the wait looks for a message before it lets the log catch up and sleeps:
// a request that comes within it is answered before the log's redraw.
inline constexpr int kLogQuietLookMs = 20;
inline constexpr std::size_t kMaxWriteBytes = 16384;  // also the port's output queue

inline constexpr std::string_view kWaitingLine = "Waiting command (ESC to exit)...";

// The tape block server proper. The remote machine sends "B" to ask for the next
// entry of the tape; the tool answers with a start byte, a 10 ms pause, the 17-byte
// header, another 10 ms pause and the data. A "B" on an exhausted tape gets the end
// byte 09h and ends the window; Esc stops the waiting at any time.
//
// Everything runs on the window thread, inside the window's first paint: the wait
// keeps every window alive by pumping messages, and received bytes reach the
// ReceiveBuffer only from inside that pumping, so no lock is needed. Between
// passes the wait sleeps until a message arrives (at most idle_wait_ms), so waiting
// costs no processor time. Once the window has been ended, by any path, the loop stops
// as an Esc would: the remote gets the end byte (unless it just had one), and the
// session never lives on without its window.
class CommandLoop {
  public:
    CommandLoop(SessionServices services, TapeImage& tape, ReceiveBuffer& received)
        : io_(services), tape_(tape), received_(received) {}

    // The command loop: serves entries until the tape ends or Esc stops it.
    void KESTREL(serial::PortHandle port, LogView& log);

    // Waits for the next "B", dropping the bytes before it, or for Esc or the end of
    // the window (then empty).
    std::optional<char> WAITCOMMAND();

    // The first received byte, taken from the buffer; empty when nothing is waiting.
    std::optional<char> GETCHAR();

    // Logs and sends the entry at the front of the tape, then cuts it off.
    void BLK(serial::PortHandle port, LogView& log);

    // Writes the bytes in completed writes of at most 16384 bytes each; results
    // unchecked. The window stays alive while they go out (KeepWriting); after a
    // write given up on a stalled line, nothing more is written while the session is
    // ending.
    void SENDSTR(serial::PortHandle port, std::string_view bytes);

  private:
    bool EscHeld() { return io_.keys.IsHeld(kVkEscape); }
    // MESSAGE; the control shows the line at the next catch-up.
    void Log(LogView& log, std::string_view text);
    // The log control shows what was logged since it last caught up.
    void CatchUpLog();
    // No Esc held and the window not ended.
    bool SessionGoesOn() { return !EscHeld() && !WindowEnded(); }
    // While a write is under way: handles the window's messages, and answers whether
    // the write should go on (no Esc held, the window not ended).
    bool KeepWriting();
    // Sleeps until a message comes for the window thread, or Esc is held, or the
    // window has ended (tested every idle_wait_ms of the services); the log catches
    // up first when the line is quiet.
    void SleepUntilMessage();
    bool WindowEnded() { return log_ != nullptr && log_->WindowEnded(); }
    void SendEndByte(serial::PortHandle port);

    SessionServices io_;
    LogView* log_ = nullptr;      // the session's log while KESTREL runs
    bool end_byte_last_ = false;  // the last bytes written were the end byte
    // A write was given up on a line that stopped reading; cleared by the next write
    // that completes.
    bool line_stalled_ = false;
    bool log_behind_ = false;  // lines logged that the control does not show yet
    int passes_since_log_shown_ = 0;
    TapeImage& tape_;
    ReceiveBuffer& received_;
};

// Appends one line (text, CR, LF) to the log, shows it and scrolls to it; the cost
// does not grow with the log.
void MESSAGE(LogView& log, std::string_view text);

// The entry's name as the log shows it: trailing blanks removed; leading blanks,
// tabs, carriage returns and line feeds removed; any other control byte left in
// it shown as "." so that the log line stays one whole line.
std::string LogName(std::string_view stored_name);

}  // namespace kestrel::app
