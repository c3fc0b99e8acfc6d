// The shared tables' pauses on the platform: DBOPEN's pause handles the messages that
// arrive while it waits, and a quit message met there stays for the program's loop.
#include "common/tables/shared_tables_win32.h"

#include <gtest/gtest.h>

#include <chrono>

namespace kestrel::common {
namespace {

using std::chrono::milliseconds;

// A message-only window that counts the WM_APP messages it is sent.
class CountingWindow {
  public:
    CountingWindow() {
        WNDCLASSA window_class{};
        window_class.lpfnWndProc = Procedure;
        window_class.hInstance = GetModuleHandleA(nullptr);
        window_class.lpszClassName = "KestrelPauseCounter";
        RegisterClassA(&window_class);
        handle = CreateWindowA("KestrelPauseCounter", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               window_class.hInstance, nullptr);
        SetWindowLongPtrA(handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&count));
    }
    CountingWindow(const CountingWindow&) = delete;
    CountingWindow& operator=(const CountingWindow&) = delete;
    ~CountingWindow() { DestroyWindow(handle); }

    HWND handle = nullptr;
    int count = 0;

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
        if (message == WM_APP) {
            ++*reinterpret_cast<int*>(GetWindowLongPtrA(window, GWLP_USERDATA));
            return 0;
        }
        return DefWindowProcA(window, message, w, l);
    }
};

TEST(SharedTablePauses, APauseHandlesWhatArrivesAndKeepsAQuitForTheProgramsLoop) {
    PlatformSharedTableServices services;
    CountingWindow window;
    ASSERT_NE(window.handle, nullptr);

    PostMessageA(window.handle, WM_APP, 0, 0);
    services.PauseHandlingMessages(milliseconds(20));
    EXPECT_EQ(window.count, 1);

    PostQuitMessage(0);
    PostMessageA(window.handle, WM_APP, 0, 0);  // handled first: a quit comes last
    services.PauseHandlingMessages(milliseconds(20));
    EXPECT_EQ(window.count, 2);
    // The quit is posted again, and waking every wait at once it would make the
    // pause return at once: the rest of it is slept.
    const auto before = std::chrono::steady_clock::now();
    services.PauseHandlingMessages(milliseconds(40));
    EXPECT_GE(std::chrono::steady_clock::now() - before, milliseconds(35));
    MSG message{};
    EXPECT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

}  // namespace
}  // namespace kestrel::common
