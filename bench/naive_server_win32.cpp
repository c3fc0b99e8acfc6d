// naive_server.exe: the yardstick of bench/session_bench.py, not the product. The
// simplest program that serves a TAP tape on the same wire: one thread, no window,
// a blocking port polled every millisecond. It has none of the tool's duties (a
// window kept alive, Esc, F4, the log, writes of at most 16384 bytes), so its
// figures show what the platform itself costs between a "B" and its answer.
//
//   naive_server.exe TAPE.tap [PORT]     (PORT defaults to COM1)
//
// Each "B" gets the next entry: 00h, 10 ms, the 17-byte header in one write, 10 ms,
// the data; a "B" on an exhausted tape gets 09h and ends the program.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace {

constexpr int kPauseMs = 10;
constexpr std::size_t kHeaderAt = 3;  // type, name, length and two parameters
constexpr std::size_t kHeaderBytes = 17;
constexpr std::size_t kDataAt = 24;  // after the data block's length and flag
constexpr std::size_t kEntryOverhead = 25;

std::string ReadTape(const char* path) {
    std::ifstream file(path, std::ios::binary);
    std::string tape((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!tape.empty() && tape.back() == '\x1A') {
        tape.pop_back();
    }
    return tape;
}

bool WriteAll(HANDLE port, std::string_view bytes) {
    DWORD written = 0;
    return WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Sends the entry at the front of the tape and cuts it off; false when the tape is
// exhausted (too short for a whole header).
bool SendEntry(HANDLE port, std::string& tape) {
    if (tape.size() < kDataAt) {
        return false;
    }
    const std::size_t length = static_cast<unsigned char>(tape[14]) |
                               static_cast<std::size_t>(static_cast<unsigned char>(tape[15])) << 8;
    WriteAll(port, std::string_view("\0", 1));
    Sleep(kPauseMs);
    WriteAll(port, std::string_view(tape).substr(kHeaderAt, kHeaderBytes));
    Sleep(kPauseMs);
    WriteAll(port, std::string_view(tape).substr(kDataAt, length));
    tape.erase(0, std::min(tape.size(), kEntryOverhead + length));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("usage: naive_server TAPE.tap [PORT]\n", stderr);
        return 2;
    }
    std::string tape = ReadTape(argv[1]);
    const std::string device = std::string("\\\\.\\") + (argc == 3 ? argv[2] : "COM1");
    HANDLE port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "naive_server: cannot open %s\n", device.c_str());
        return 1;
    }
    DCB settings{};
    settings.DCBlength = sizeof settings;
    GetCommState(port, &settings);
    BuildCommDCBA("115200,N,8,2", &settings);
    SetCommState(port, &settings);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;  // a read returns at once with what is there
    SetCommTimeouts(port, &timeouts);
    std::puts("ready");
    std::fflush(stdout);

    char received[256];
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(port, received, sizeof received, &count, nullptr)) {
            break;
        }
        if (count == 0) {
            Sleep(1);  // the poll: nothing came
            continue;
        }
        for (DWORD i = 0; i < count; ++i) {
            if (received[i] != 'B') {
                continue;
            }
            if (!SendEntry(port, tape)) {
                WriteAll(port, std::string_view("\x09", 1));
                CloseHandle(port);
                return 0;
            }
        }
    }
    CloseHandle(port);
    return 1;
}
