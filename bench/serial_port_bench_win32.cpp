// The serial port layer at rest and at work, for bench/serial_port_bench.py.
//
//   serial_port_bench.exe idle SECONDS    open COM1, arm a window, wait in GetMessage
//   serial_port_bench.exe noport SECONDS  the same without opening a port (baseline)
//   serial_port_bench.exe echo COUNT      answer each received "B" with one 00h byte at
//                                         once, from the notification, COUNT times
//
// Prints "ready" once the port is open and armed, then "done".

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "serial/port.h"

namespace {

using namespace kestrel::serial;

constexpr UINT_PTR kEndTimer = 1;

struct Bench {
    PortHandle port = kNoPort;
    HWND window = nullptr;
    bool echo = false;
    long answers_left = 0;
};

Bench the_bench;

void OnNotify(PortHandle port) {
    ENABLECOMMNOTIFICATION(port, 0, 1, -1);
    std::string buffer(1000, ' ');
    const int count = READCOMM(port, buffer);
    for (int i = 0; i < count && the_bench.echo; ++i) {
        if (buffer[static_cast<std::size_t>(i)] == 'B') {
            WRITECOMM(port, std::string(1, '\0'));
            if (--the_bench.answers_left == 0) {
                PostQuitMessage(0);
            }
        }
    }
    ENABLECOMMNOTIFICATION(port, reinterpret_cast<WindowHandle>(the_bench.window), 1, -1);
}

LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kCommNotifyMessage) {
        OnNotify(static_cast<PortHandle>(wparam));
        return 0;
    }
    if (message == WM_TIMER && wparam == kEndTimer) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wparam, lparam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: serial_port_bench idle|noport SECONDS | echo COUNT\n");
        return 2;
    }
    const std::string mode = argv[1];
    const long amount = std::strtol(argv[2], nullptr, 10);

    WNDCLASSA window_class{};
    window_class.lpfnWndProc = Procedure;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "KestrelPortBench";
    RegisterClassA(&window_class);
    the_bench.window = CreateWindowExA(0, window_class.lpszClassName, "", 0, 0, 0, 0, 0,
                                       HWND_MESSAGE, nullptr, window_class.hInstance, nullptr);

    if (mode != "noport") {
        the_bench.port = OPENCOMM("\\\\.\\COM1", 16384, 16384);
        std::string settings;
        if (!IsOpen(the_bench.port) || !BUILDCOMMDCB("115200,N,8,2", settings) ||
            !SETCOMMSTATE(the_bench.port, settings)) {
            std::fprintf(stderr, "cannot open COM1\n");
            return 1;
        }
        ENABLECOMMNOTIFICATION(the_bench.port, reinterpret_cast<WindowHandle>(the_bench.window), 1,
                               -1);
    }
    if (mode == "echo") {
        the_bench.echo = true;
        the_bench.answers_left = amount;
    } else {
        SetTimer(the_bench.window, kEndTimer, static_cast<UINT>(amount * 1000), nullptr);
    }
    std::printf("ready\n");
    std::fflush(stdout);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        DispatchMessageA(&message);
    }
    if (IsOpen(the_bench.port)) {
        CLOSECOMM(the_bench.port);
    }
    std::printf("done\n");
    return 0;
}
