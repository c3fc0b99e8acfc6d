#include "app/command_loop.h"

#include "base/blank.h"
#include "errors/source_frame.h"

namespace kestrel::app {

void CommandLoop::KESTREL(serial::PortHandle port, LogView& log) {
    KESTREL_FRAME("KESTREL");
    log_ = &log;
    struct Forget {
        LogView*& log;
        ~Forget() { log = nullptr; }
    } forget{log_};
    // The loop's every way out reaches the catch-up below; a lambda keeps the loop's
    // lines in KESTREL's own frame of the error report.
    const auto serve = [&] {
        while (!EscHeld()) {
            KESTREL_AT_LINE(Log(log, kWaitingLine));
            for (;;) {
                std::optional<char> command = KESTREL_AT_LINE(WAITCOMMAND());
                if (command == kCommandNextEntry && io_.chooser != nullptr) {
                    // The front end puts the entry this request gets at the front; it
                    // may hold the request first. The stop tests below see what came
                    // meanwhile.
                    KESTREL_AT_LINE(io_.chooser->BeforeNextEntry(tape_));
                }
                if (EscHeld()) {
                    // Esc still down after the wait: say goodbye to the remote. If the key
                    // is released before the outer test, serving goes on from the same
                    // tape position; if it is still down, the loop ends here and the
                    // window's own Esc handling closes the session.
                    KESTREL_AT_LINE(SendEndByte(port));
                    break;
                }
                if (WindowEnded()) {
                    // Gone without Esc seen held (a quick tap, a close request): stop as
                    // Esc would, so the session ends with its window.
                    if (!end_byte_last_) {
                        KESTREL_AT_LINE(SendEndByte(port));
                    }
                    return;
                }
                if (command != kCommandNextEntry) {
                    continue;  // anything but "B" is dropped silently
                }
                if (tape_.IsExhausted()) {
                    KESTREL_AT_LINE(SendEndByte(port));
                    // The closing rule may refuse it; we are done either way.
                    KESTREL_AT_LINE(log.EndWindow());
                    return;
                }
                KESTREL_AT_LINE(BLK(port, log));
            }
        }
    };
    serve();
    // The window may stay open after the loop (F4 held at the end of the tape): it
    // shows every line the loop logged.
    KESTREL_AT_LINE(CatchUpLog());
}

void CommandLoop::Log(LogView& log, std::string_view text) {
    MESSAGE(log, text);
    log_behind_ = true;
}

void CommandLoop::CatchUpLog() {
    passes_since_log_shown_ = 0;
    if (log_ != nullptr && log_behind_) {
        log_->ShowAppended();
        log_behind_ = false;
    }
}

void CommandLoop::SendEndByte(serial::PortHandle port) {
    SENDSTR(port, std::string_view(&kEndByte, 1));
    end_byte_last_ = true;
}

std::optional<char> CommandLoop::WAITCOMMAND() {
    // Each pass tests the key and takes the next command from what has arrived: the
    // bytes before it are dropped in one go, however many, so noise on the line
    // costs one pass per batch of received bytes, not one per byte. With nothing
    // left, it handles pending messages, which is where received bytes arrive, and
    // sleeps until the next message (a received byte, a key), testing Esc and the
    // window's end at least every idle_wait_ms meanwhile, never spinning.
    KESTREL_FRAME("WAITCOMMAND");
    std::optional<char> command;
    while (!EscHeld() && !WindowEnded()) {
        received_.DropUntil(kCommandNextEntry);
        command = KESTREL_AT_LINE(GETCHAR());
        if (command) {
            break;
        }
        KESTREL_AT_LINE(io_.pump.SysRefresh());
        // Under a steady stream of messages the line is never quiet: the log still
        // catches up every kLogCatchUpPasses passes.
        if (++passes_since_log_shown_ >= kLogCatchUpPasses) {
            KESTREL_AT_LINE(CatchUpLog());
        }
        if (received_.empty()) {
            KESTREL_AT_LINE(SleepUntilMessage());
        }
    }
    KESTREL_AT_LINE(io_.pump.SysRefresh());
    return command;
}

void CommandLoop::SleepUntilMessage() {
    // Before it sleeps, the log catches up with what was logged; first a short quiet
    // look, though: a request that follows an answer at once (the remote asks for
    // the next entry as soon as it has the last) is answered without waiting for the
    // log's redraw. A quiet line then costs a key test and a wait every idle_wait_ms
    // (none at all when the front end wakes the wait for every key), nothing more:
    // with no message come, there is nothing to pump.
    if (log_behind_) {
        if (io_.pump.WaitForMessages(kLogQuietLookMs)) {
            return;
        }
        CatchUpLog();
    }
    while (!io_.pump.WaitForMessages(io_.idle_wait_ms)) {
        if (EscHeld() || WindowEnded()) {
            return;
        }
    }
}

std::optional<char> CommandLoop::GETCHAR() {
    KESTREL_FRAME("GETCHAR");
    return received_.TakeFront();
}

void CommandLoop::BLK(serial::PortHandle port, LogView& log) {
    KESTREL_FRAME("BLK");
    const TapeEntry entry = tape_.Front();
    KESTREL_AT_LINE(Log(log, "Sending file " + LogName(entry.name) + "..."));

    KESTREL_AT_LINE(SENDSTR(port, std::string_view(&kStartByte, 1)));
    io_.pause.Sleep(kBlockPauseMs);

    // The header in one write: type, name, length and the two parameters, each word
    // low byte first. Five writes would give the same bytes on the wire, each costing
    // the platform a completed write of its own.
    std::string header(1, static_cast<char>(entry.type));
    header += entry.name;
    for (const std::uint16_t word : {entry.length, entry.param1, entry.param2}) {
        header.push_back(static_cast<char>(word & 0xFF));
        header.push_back(static_cast<char>(word >> 8));
    }
    KESTREL_AT_LINE(SENDSTR(port, header));
    io_.pause.Sleep(kBlockPauseMs);

    KESTREL_AT_LINE(SENDSTR(port, entry.data));
    tape_.DropFront();
}

void CommandLoop::SENDSTR(serial::PortHandle port, std::string_view bytes) {
    KESTREL_FRAME("SENDSTR");
    if (!bytes.empty()) {
        end_byte_last_ = false;
    }
    while (!bytes.empty()) {
        if (line_stalled_ && !SessionGoesOn()) {
            // A write was given up on this line while the session was ending, and it
            // still is: nothing more could get through, each try would only stall.
            return;
        }
        std::string_view chunk = bytes.substr(0, kMaxWriteBytes);
        // A failed write is not detected; the sequence goes on. Only a write given up
        // on a line that stopped reading marks the line stalled, and the next write
        // that completes shows that it takes bytes again.
        const WriteOutcome outcome =
            KESTREL_AT_LINE(io_.port.Write(port, chunk, [this] { return KeepWriting(); }));
        if (outcome.given_up) {
            line_stalled_ = true;
        } else if (static_cast<std::size_t>(outcome.written) == chunk.size()) {
            line_stalled_ = false;
        }
        bytes.remove_prefix(chunk.size());
    }
}

bool CommandLoop::KeepWriting() {
    // While a write goes out, the window answers its messages: paint, messages sent
    // to it, the receive notification (received bytes join the buffer and are
    // served after this entry, in order), and keys: an Esc that ends the window
    // takes effect when the loop next tests it, after the entry. The loop itself is
    // not entered again: it runs once, from the window's first paint.
    io_.pump.SysRefresh();
    CatchUpLog();  // a long write leaves time for the log to catch up
    return SessionGoesOn();
}

void MESSAGE(LogView& log, std::string_view text) {
    KESTREL_FRAME("MESSAGE");
    std::string line(text);
    line.append("\r\n");
    KESTREL_AT_LINE(log.Append(line));
    KESTREL_AT_LINE(log.GoBottom());
}

std::string LogName(std::string_view stored_name) {
    while (!stored_name.empty() && stored_name.back() == ' ') {
        stored_name.remove_suffix(1);
    }
    while (!stored_name.empty() &&
           base::IsBlankByte(static_cast<unsigned char>(stored_name.front()))) {
        stored_name.remove_prefix(1);
    }
    std::string shown(stored_name);
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '.';
        }
    }
    return shown;
}

}  // namespace kestrel::app
