// Reads what another program of the prefix shows, or times how it answers.
//
//   kestrel_window_reader CAPTION SECONDS [DESKTOP]
//
// Waits until a visible dialog window with the given caption is on the screen,
// prints its static texts and ends: one "text=HEX" line per non-empty static text,
// in window order (the bytes in hex, so Windows-1252 letters arrive as they are).
// Exit status 0 when the window was seen, 1 when none showed within SECONDS. With
// DESKTOP, among the windows of that Wine virtual desktop.
//
//   kestrel_window_reader --ping CAPTION_PREFIX SECONDS [DESKTOP]
//
// Waits up to 60 s for the top-level window whose caption starts with
// CAPTION_PREFIX (among the windows of the Wine virtual desktop DESKTOP when given:
// a program started outside that desktop does not see them otherwise), prints
// "window=HANDLE" once it is found, then for SECONDS sends it WM_NULL, one message
// after the other, each with a limit of 5000 ms: a window whose thread does not
// pump messages leaves them unanswered, as a system would show it "not
// responding". Prints "pings=N", "longest_ms=X", "median_ms=Y" and "timeouts=K" (an
// unanswered ping counts as 5000 ms), and "gone=1" when the window disappeared,
// which ends the pings early. Exit status 0 when the window was found, 1 when not.
//
//   kestrel_window_reader --log CAPTION_PREFIX [DESKTOP]
//
// Prints the text that the first multi-line EDIT control of the top-level window
// whose caption starts with CAPTION_PREFIX shows (a session's log), as one
// "log=HEX" line. Exit status 0 when it was read, 1 when no such window or control
// exists now.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "e2e/probe_report.h"
#include "support/probe_windows_win32.h"

namespace {

constexpr UINT kPingLimitMs = 5000;
constexpr ULONGLONG kFindLimitMs = 60000;

struct Search {
    std::string caption;
    HWND found = nullptr;
};

BOOL CALLBACK Visit(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<Search*>(context);
    // Its own style: IsWindowVisible is false for every window of another desktop.
    const bool shown = (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0;
    if (shown && kestrel::testing::ClassOf(window) == "#32770" &&
        kestrel::testing::TextOf(window) == search.caption) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK VisitTopLevel(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<Search*>(context);
    if (kestrel::testing::TextOf(window).starts_with(search.caption)) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

// The first window the visitor picks among the top-level windows of the named
// desktop (nullptr: the process's own); nullptr until one exists.
HWND FindIn(const char* desktop_name, WNDENUMPROC visit, const std::string& caption) {
    Search search{caption};
    if (desktop_name == nullptr) {
        EnumWindows(visit, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    // The desktop exists only once the program in it has started: opened each time.
    HDESK desktop = OpenDesktopA(desktop_name, 0, FALSE, DESKTOP_ENUMERATE | DESKTOP_READOBJECTS);
    if (desktop != nullptr) {
        EnumDesktopWindows(desktop, visit, reinterpret_cast<LPARAM>(&search));
        CloseDesktop(desktop);
    }
    return search.found;
}

int ReadTexts(const char* caption, const char* seconds, const char* desktop_name) {
    HWND found = nullptr;
    const ULONGLONG deadline = GetTickCount64() + std::strtoull(seconds, nullptr, 10) * 1000;
    while ((found = FindIn(desktop_name, Visit, caption)) == nullptr) {
        if (GetTickCount64() >= deadline) {
            return 1;
        }
        Sleep(50);  // polls for the window, which appears in another process
    }
    for (const std::string& text : kestrel::testing::StaticTexts(found)) {
        std::printf("text=%s\n", kestrel::testing::Hex(text).c_str());
    }
    return 0;
}

int Ping(const char* prefix, const char* seconds, const char* desktop_name) {
    const ULONGLONG find_deadline = GetTickCount64() + kFindLimitMs;
    HWND window = nullptr;
    while ((window = FindIn(desktop_name, VisitTopLevel, prefix)) == nullptr) {
        if (GetTickCount64() >= find_deadline) {
            std::puts("window=0");
            return 1;
        }
        Sleep(50);  // polls for the window, which appears in another process
    }
    std::printf("window=%p\n", static_cast<void*>(window));
    std::fflush(stdout);

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const auto ping_ms = static_cast<ULONGLONG>(std::strtod(seconds, nullptr) * 1000.0);
    const ULONGLONG end = GetTickCount64() + ping_ms;
    std::vector<double> answers_ms;
    int timeouts = 0;
    bool gone = false;
    while (GetTickCount64() < end) {
        LARGE_INTEGER sent;
        LARGE_INTEGER answered;
        DWORD_PTR result = 0;
        QueryPerformanceCounter(&sent);
        const LRESULT ok =
            SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kPingLimitMs, &result);
        QueryPerformanceCounter(&answered);
        if (!IsWindow(window)) {
            gone = true;  // a ping the closing window left unanswered says nothing
            break;
        }
        if (ok == 0) {
            ++timeouts;
            answers_ms.push_back(kPingLimitMs);
        } else {
            answers_ms.push_back(1000.0 * static_cast<double>(answered.QuadPart - sent.QuadPart) /
                                 static_cast<double>(frequency.QuadPart));
        }
    }
    double longest = 0.0;
    double median = 0.0;
    if (!answers_ms.empty()) {
        longest = *std::max_element(answers_ms.begin(), answers_ms.end());
        const auto middle = answers_ms.begin() + static_cast<std::ptrdiff_t>(answers_ms.size() / 2);
        std::nth_element(answers_ms.begin(), middle, answers_ms.end());
        median = *middle;
    }
    std::printf("pings=%zu\nlongest_ms=%.3f\nmedian_ms=%.3f\ntimeouts=%d\n", answers_ms.size(),
                longest, median, timeouts);
    if (gone) {
        std::puts("gone=1");
    }
    return 0;
}

HWND FirstMultiLineEdit(HWND window) {
    HWND found = nullptr;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM context) -> BOOL {
            if (kestrel::testing::ClassOf(child) == "Edit" &&
                (GetWindowLongA(child, GWL_STYLE) & ES_MULTILINE) != 0) {
                *reinterpret_cast<HWND*>(context) = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

int ReadLog(const char* prefix, const char* desktop_name) {
    HWND control = FirstMultiLineEdit(FindIn(desktop_name, VisitTopLevel, prefix));
    DWORD_PTR length = 0;
    // The control belongs to another process: its text comes through WM_GETTEXT, which
    // the platform carries across, not through GetWindowTextA.
    if (control == nullptr || SendMessageTimeoutA(control, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL,
                                                  kPingLimitMs, &length) == 0) {
        return 1;
    }
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (SendMessageTimeoutA(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                            SMTO_NORMAL, kPingLimitMs, &copied) == 0) {
        return 1;
    }
    text.resize(std::min<std::size_t>(copied, length));
    std::printf("log=%s\n", kestrel::testing::Hex(text).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && argc <= 5 && std::strcmp(argv[1], "--ping") == 0) {
        return Ping(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
    }
    if (argc >= 3 && argc <= 4 && std::strcmp(argv[1], "--log") == 0) {
        return ReadLog(argv[2], argc == 4 ? argv[3] : nullptr);
    }
    if (argc != 3 && argc != 4) {
        std::fputs(
            "usage: kestrel_window_reader CAPTION SECONDS [DESKTOP]\n"
            "       kestrel_window_reader --ping CAPTION_PREFIX SECONDS [DESKTOP]\n"
            "       kestrel_window_reader --log CAPTION_PREFIX [DESKTOP]\n",
            stderr);
        return 2;
    }
    return ReadTexts(argv[1], argv[2], argc == 4 ? argv[3] : nullptr);
}
