// Reads what another program of the prefix shows: waits until a visible dialog
// window with the given caption is on the screen, prints its static texts and ends.
//
//   kestrel_window_reader CAPTION SECONDS
//
// One "text=HEX" line per non-empty static text, in window order (the bytes in hex,
// so Windows-1252 letters arrive as they are). Exit status 0 when the window was
// seen, 1 when none showed within SECONDS.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "e2e/probe_report.h"
#include "support/probe_windows_win32.h"

namespace {

struct Search {
    std::string caption;
    HWND found = nullptr;
};

BOOL CALLBACK Visit(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<Search*>(context);
    if (IsWindowVisible(window) && kestrel::testing::ClassOf(window) == "#32770" &&
        kestrel::testing::TextOf(window) == search.caption) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: kestrel_window_reader CAPTION SECONDS\n", stderr);
        return 2;
    }
    Search search{argv[1]};
    const ULONGLONG deadline = GetTickCount64() + std::strtoull(argv[2], nullptr, 10) * 1000;
    while (EnumWindows(Visit, reinterpret_cast<LPARAM>(&search)), search.found == nullptr) {
        if (GetTickCount64() >= deadline) {
            return 1;
        }
        Sleep(50);  // polls for the window, which appears in another process
    }
    for (const std::string& text : kestrel::testing::StaticTexts(search.found)) {
        std::printf("text=%s\n", kestrel::testing::ProbeReport::Hex(text).c_str());
    }
    return 0;
}
