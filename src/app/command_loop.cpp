#include "app/command_loop.h"

#include "errors/source_frame.h"

namespace kestrel::app {

void CommandLoop::KESTREL(serial::PortHandle port, LogView& log) {
    const errors::SourceFrame frame("KESTREL", __LINE__);
    while (!EscHeld()) {
        MESSAGE(log, kWaitingLine);
        for (;;) {
            std::optional<char> command = WAITCOMMAND();
            if (EscHeld()) {
                // Esc still down after the wait: say goodbye to the remote. If the key
                // is released before the outer test, serving goes on from the same
                // tape position; if it is still down, the loop ends here and the
                // window's own Esc handling closes the session.
                SENDSTR(port, std::string_view(&kEndByte, 1));
                break;
            }
            if (command != kCommandNextEntry) {
                continue;  // anything but "B" is dropped silently
            }
            if (tape_.IsExhausted()) {
                SENDSTR(port, std::string_view(&kEndByte, 1));
                log.EndWindow();  // the closing rule may refuse it; we are done either way
                return;
            }
            BLK(port, log);
        }
    }
}

std::optional<char> CommandLoop::WAITCOMMAND() {
    // A busy wait by design: each pass tests the key, looks at the buffer and
    // handles pending messages, which is where received bytes arrive.
    std::optional<char> command;
    while (!EscHeld()) {
        command = GETCHAR();
        if (command) {
            break;
        }
        io_.pump.SysRefresh();
    }
    io_.pump.SysRefresh();
    return command;
}

std::optional<char> CommandLoop::GETCHAR() {
    return received_.TakeFront();
}

void CommandLoop::BLK(serial::PortHandle port, LogView& log) {
    const errors::SourceFrame frame("BLK", __LINE__);
    const TapeEntry entry = tape_.Front();
    MESSAGE(log, "Sending file " + LogName(entry.name) + "...");

    SENDSTR(port, std::string_view(&kStartByte, 1));
    io_.pause.Sleep(kBlockPauseMs);

    auto send_word = [&](std::uint16_t word) {
        const char bytes[2] = {static_cast<char>(word & 0xFF), static_cast<char>(word >> 8)};
        SENDSTR(port, std::string_view(bytes, 2));
    };
    const char type = static_cast<char>(entry.type);
    SENDSTR(port, std::string_view(&type, 1));
    SENDSTR(port, entry.name);
    send_word(entry.length);
    send_word(entry.param1);
    send_word(entry.param2);
    io_.pause.Sleep(kBlockPauseMs);

    SENDSTR(port, entry.data);
    tape_.DropFront();
}

void CommandLoop::SENDSTR(serial::PortHandle port, std::string_view bytes) {
    while (!bytes.empty()) {
        std::string_view chunk = bytes.substr(0, kMaxWriteBytes);
        io_.port.Write(port, chunk);  // a failed write is not detected; the sequence goes on
        bytes.remove_prefix(chunk.size());
    }
}

void MESSAGE(LogView& log, std::string_view text) {
    std::string updated = log.VarGet();
    updated.append(text);
    updated.append("\r\n");
    log.VarPut(std::move(updated));
    log.Refresh();
    log.GoBottom();
}

std::string LogName(std::string_view stored_name) {
    while (!stored_name.empty() && stored_name.back() == ' ') {
        stored_name.remove_suffix(1);
    }
    while (!stored_name.empty() && (stored_name.front() == ' ' || stored_name.front() == '\t' ||
                                    stored_name.front() == '\r' || stored_name.front() == '\n')) {
        stored_name.remove_prefix(1);
    }
    return std::string(stored_name);
}

}  // namespace kestrel::app
