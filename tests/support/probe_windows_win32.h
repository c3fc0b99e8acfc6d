#pragma once

// What the platform tests and the test probes read off windows, and the probe's own
// window that stands behind the dialogs they open.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace kestrel::testing {

inline std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// The window's text, "" for no window.
inline std::string TextOf(HWND window) {
    char text[1024] = {};
    if (window != nullptr) {
        GetWindowTextA(window, text, sizeof text);
    }
    return text;
}

// The texts a dialog box shows: its non-empty static texts, in window order.
inline std::vector<std::string> StaticTexts(HWND box) {
    std::vector<std::string> texts;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM found) -> BOOL {
            std::string text = TextOf(child);
            if (ClassOf(child) == "Static" && !text.empty()) {
                reinterpret_cast<std::vector<std::string>*>(found)->push_back(std::move(text));
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return texts;
}

// The visible dialog windows (message boxes included) of a thread, optionally only
// those with a caption: the first one found and how many there are.
struct DialogSearch {
    std::optional<std::string> caption;
    HWND found = nullptr;
    int count = 0;

    static BOOL CALLBACK Visit(HWND window, LPARAM self) {
        auto& search = *reinterpret_cast<DialogSearch*>(self);
        if (IsWindowVisible(window) && ClassOf(window) == "#32770" &&
            (!search.caption || TextOf(window) == *search.caption)) {
            if (search.found == nullptr) {
                search.found = window;
            }
            ++search.count;
        }
        return TRUE;
    }
};

inline DialogSearch VisibleDialogs(DWORD thread,
                                   std::optional<std::string> caption = std::nullopt) {
    DialogSearch search;
    search.caption = std::move(caption);
    EnumThreadWindows(thread, DialogSearch::Visit, reinterpret_cast<LPARAM>(&search));
    return search;
}

// A window of the probe's own, shown and made the active window while it lives.
class ProbeWindow {
  public:
    ProbeWindow()
        : window_(CreateWindowExA(0, "STATIC", "Sonda KESTREL", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  20, 20, 300, 120, nullptr, nullptr, GetModuleHandleA(nullptr),
                                  nullptr)) {
        if (window_ != nullptr) {
            SetForegroundWindow(window_);
            SetActiveWindow(window_);
        }
    }
    ProbeWindow(const ProbeWindow&) = delete;
    ProbeWindow& operator=(const ProbeWindow&) = delete;
    ~ProbeWindow() {
        if (window_ != nullptr) {
            DestroyWindow(window_);
        }
    }
    HWND get() const { return window_; }
    bool active() const { return window_ != nullptr && GetActiveWindow() == window_; }
    bool enabled() const { return IsWindowEnabled(window_) != FALSE; }

  private:
    HWND window_;
};

}  // namespace kestrel::testing
