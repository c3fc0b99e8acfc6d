// The window framework on the platform: a dialog built in memory and run modally,
// its callbacks at their points, the message pump, the log control and the ways a
// dialog is asked to end. Each test runs a real dialog; its start callback (run at
// the first paint) plays the user and the program.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "errors/raise.h"
#include "ui/dialog_win32.h"
#include "ui/message_pump.h"
#include "ui/multiget_win32.h"

namespace kestrel::ui {
namespace {

// A dialog shaped like the session window: 500 by 500 pixels, style 0, one
// read-only log control as its client.
struct LogDialog {
    std::string log_text;
    TDialog dialog{[] {
        DialogOptions o;
        o.caption = "Prova  (COM1:115200,N,8,2)   ";
        o.style = 0;
        o.width = 500;
        o.height = 500;
        return o;
    }()};
    TMultiGet log{[this] {
        MultiGetOptions o;
        o.binding = BindTo(log_text);
        o.read_only = true;
        return o;
    }()};

    LogDialog() {
        dialog.lModify = false;
        dialog.lHelpIcon = false;
    }

    void Run(std::function<bool(TDialog&)> init = nullptr) {
        ActivateOptions run;
        run.centered = true;
        run.init = [this, init](TDialog& d) {
            d.SetControl(log);
            return init ? init(d) : true;
        };
        dialog.Activate(run);
    }
};

void DrainQuitMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

TEST(DialogLifecycle, EndFromInitClosesBeforeTheWindowShowsAndTheStartNeverRuns) {
    LogDialog s;
    bool started = false;
    bool visible_in_init = true;
    s.dialog.bStart = [&] { started = true; };
    s.Run([&](TDialog& d) {
        visible_in_init = IsWindowVisible(d.hWnd) != FALSE;
        EXPECT_TRUE(d.End());
        return true;
    });
    EXPECT_FALSE(visible_in_init);
    EXPECT_FALSE(started);
    EXPECT_EQ(s.dialog.nResult, 2);
    EXPECT_EQ(s.dialog.hWnd, nullptr);
    EXPECT_FALSE(s.dialog.lVisible);
}

TEST(DialogLifecycle, ARefusedEndFromInitLetsTheDialogShowAndStartOnce) {
    LogDialog s;
    int starts = 0;
    bool allow = false;
    s.dialog.bStart = [&] {
        ++starts;
        EXPECT_TRUE(IsWindowVisible(s.dialog.hWnd));
        // Repaints while the start callback runs only paint.
        for (int i = 0; i < 5; ++i) {
            InvalidateRect(s.dialog.hWnd, nullptr, TRUE);
            SYSREFRESH();
        }
        allow = true;
        EXPECT_TRUE(s.dialog.End(7));
    };
    s.Run([&](TDialog& d) {
        d.bValid = [&](TDialog&) { return allow; };
        EXPECT_FALSE(d.End());
        return true;
    });
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(s.dialog.nResult, 7);
}

TEST(DialogLifecycle, TheSessionShapeHasNoSystemMenuIsCentredAndTheLogFillsIt) {
    LogDialog s;
    LONG_PTR style = 0;
    RECT window{}, client{}, log{};
    std::string caption(256, '\0');
    s.dialog.bStart = [&] {
        style = GetWindowLongPtrA(s.dialog.hWnd, GWL_STYLE);
        GetWindowRect(s.dialog.hWnd, &window);
        GetClientRect(s.dialog.hWnd, &client);
        GetWindowRect(s.log.hWnd, &log);
        MapWindowPoints(nullptr, s.dialog.hWnd, reinterpret_cast<POINT*>(&log), 2);
        caption.resize(static_cast<std::size_t>(
            GetWindowTextA(s.dialog.hWnd, caption.data(), static_cast<int>(caption.size()))));
        s.dialog.End();
    };
    s.Run();
    EXPECT_EQ(style & WS_SYSMENU, 0);
    EXPECT_NE(style & WS_CAPTION, 0);
    EXPECT_EQ(caption, "Prova  (COM1:115200,N,8,2)");  // right-trimmed
    RECT screen{};
    GetWindowRect(GetDesktopWindow(), &screen);
    EXPECT_NEAR((window.left + window.right) / 2, (screen.left + screen.right) / 2, 1);
    EXPECT_NEAR((window.top + window.bottom) / 2, (screen.top + screen.bottom) / 2, 1);
    EXPECT_NEAR(client.right, 500, 60);  // about 500 by 500 in dialog units of the system font
    EXPECT_NEAR(client.bottom, 500, 60);
    EXPECT_EQ(log.left, -1);
    EXPECT_EQ(log.top, -1);
    EXPECT_EQ(log.right - log.left, client.right + 2);
    EXPECT_EQ(log.bottom - log.top, client.bottom + 3);
}

TEST(DialogLifecycle, EscOnTheLogEndsTheDialogUnlessSwitchedOff) {
    LogDialog s;
    bool ended_with_esc_off = true;
    s.dialog.bStart = [&] {
        SETDIALOGESC(false);
        SendMessageA(s.log.hWnd, WM_KEYDOWN, VK_ESCAPE, 0);
        ended_with_esc_off = !s.dialog.lVisible || !IsWindowVisible(s.dialog.hWnd);
        SETDIALOGESC(true);
        SendMessageA(s.log.hWnd, WM_KEYDOWN, VK_ESCAPE, 0);
    };
    s.Run();
    EXPECT_FALSE(ended_with_esc_off);
    EXPECT_EQ(s.dialog.nResult, 2);
}

TEST(DialogLifecycle, EnterMovesOnAndCancelEnds) {
    LogDialog s;
    bool still_open_after_enter = false;
    s.dialog.bStart = [&] {
        SendMessageA(s.dialog.hWnd, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
        still_open_after_enter = IsWindowVisible(s.dialog.hWnd) != FALSE;
        SendMessageA(s.dialog.hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    };
    s.Run();
    EXPECT_TRUE(still_open_after_enter);
    EXPECT_EQ(s.dialog.nResult, IDCANCEL);
}

TEST(DialogLifecycle, CloseAndSessionEndRequestsPassTheValidationRule) {
    LogDialog s;
    bool allow = false;
    LRESULT refused_answer = -1;
    LRESULT accepted_answer = -1;
    s.dialog.bStart = [&] {
        SendMessageA(s.dialog.hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        SYSREFRESH();
        EXPECT_TRUE(IsWindowVisible(s.dialog.hWnd));  // refused: still there
        refused_answer = SendMessageA(s.dialog.hWnd, WM_QUERYENDSESSION, 0, 0);
        allow = true;
        accepted_answer = SendMessageA(s.dialog.hWnd, WM_QUERYENDSESSION, 0, 0);
    };
    s.Run([&](TDialog& d) {
        d.bValid = [&](TDialog&) { return allow; };
        return true;
    });
    EXPECT_EQ(refused_answer, FALSE);
    EXPECT_EQ(accepted_answer, TRUE);
    EXPECT_EQ(s.dialog.nResult, 2);
}

TEST(DialogLifecycle, ThePaintCallbackDrawsEachPaintBeforeTheStartAndTheMoveCallbackSeesEachMove) {
    DialogOptions options;
    options.caption = "Disegno";
    options.style = 0;
    options.width = 300;
    options.height = 200;
    TDialog dialog(options);
    dialog.lHelpIcon = false;
    const Brush red(CreateSolidBrush(RGB(255, 0, 0)));
    int paints = 0;
    int paints_before_start = 0;
    COLORREF drawn = CLR_INVALID;
    std::vector<std::pair<int, int>> moves;
    POINT client_origin{};
    ActivateOptions run;
    run.painted = [&](HDC dc) {
        ++paints;
        const RECT square{10, 10, 30, 30};
        FillRect(dc, &square, red.get());
    };
    run.moved = [&](int row, int column) { moves.emplace_back(row, column); };
    dialog.bStart = [&] {
        paints_before_start = paints;
        HDC dc = GetDC(dialog.hWnd);
        drawn = GetPixel(dc, 20, 20);
        ReleaseDC(dialog.hWnd, dc);
        InvalidateRect(dialog.hWnd, nullptr, TRUE);
        UpdateWindow(dialog.hWnd);
        moves.clear();  // the centring moved it as well
        SetWindowPos(dialog.hWnd, nullptr, 40, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        ClientToScreen(dialog.hWnd, &client_origin);
        dialog.End();
    };
    dialog.Activate(run);
    EXPECT_EQ(paints_before_start, 1);
    EXPECT_EQ(drawn, RGB(255, 0, 0)) << "drawn on the paint context";
    EXPECT_EQ(paints, 2);
    EXPECT_EQ(moves, (std::vector<std::pair<int, int>>{{client_origin.y, client_origin.x}}));
}

TEST(MessagePump, DeliversThePortNotificationToTheWindowsCallback) {
    LogDialog s;
    std::vector<std::pair<WPARAM, LPARAM>> calls;
    s.dialog.bCommNotify = [&](WPARAM port, LPARAM status) {
        calls.emplace_back(port, status);
        return EventResult::None();
    };
    s.dialog.bStart = [&] {
        EXPECT_TRUE(SYSREFRESH());  // nothing pending: returns at once
        PostMessageA(s.dialog.hWnd, WM_COMMNOTIFY_KESTREL, 3, 1);
        PostMessageA(s.dialog.hWnd, WM_COMMNOTIFY_KESTREL, 4, 1);
        EXPECT_TRUE(SYSREFRESH());
        s.dialog.End();
    };
    s.Run();
    EXPECT_EQ(calls, (std::vector<std::pair<WPARAM, LPARAM>>{{3, 1}, {4, 1}}));
}

TEST(MessagePump, AQuitMessageStopsThePumpAndEndsTheRunningModalLoop) {
    LogDialog s;
    int notified = 0;
    bool pumped = true;
    s.dialog.bCommNotify = [&](WPARAM, LPARAM) {
        ++notified;
        return EventResult::None();
    };
    s.dialog.bStart = [&] {
        PostMessageA(s.dialog.hWnd, WM_COMMNOTIFY_KESTREL, 0, 1);
        PostQuitMessage(5);
        PostMessageA(s.dialog.hWnd, WM_COMMNOTIFY_KESTREL, 0, 1);
        pumped = SYSREFRESH();
        EXPECT_TRUE(LWRUNNING());
    };
    s.Run();  // returns: the re-posted quit message ended the modal loop
    DrainQuitMessages();
    EXPECT_FALSE(pumped);
    // The platform hands out a quit message only once the posted messages are done.
    EXPECT_EQ(notified, 2);
    EXPECT_FALSE(LWRUNNING());
}

TEST(MessagePump, AQuitMessageLeftForTheModalLoopDoesNotEndEveryWaitAtOnce) {
    LogDialog s;
    std::vector<bool> woken;
    s.dialog.bStart = [&] {
        PostQuitMessage(0);
        SYSREFRESH();  // takes the quit message and puts it back for the modal loop
        // The quit message now comes first: the window's paint stays in the queue too.
        for (int wait = 0; wait < 3; ++wait) {
            woken.push_back(WaitForMessage(20));
            SYSREFRESH();
        }
    };
    s.Run();  // the quit message ends the modal loop
    DrainQuitMessages();
    EXPECT_EQ(woken, (std::vector<bool>{false, false, false}));
}

TEST(LogControl, ShowsTheBoundTextAndScrollsToItsEnd) {
    LogDialog s;
    std::string shown(4096, '\0');
    DWORD caret = 0;
    s.dialog.bStart = [&] {
        for (int i = 0; i < 100; ++i) {
            s.log.VarPut(s.log.VarGet() + "riga " + std::to_string(i) + "\r\n");
            s.log.Refresh();
            s.log.GoBottom();
        }
        shown.resize(static_cast<std::size_t>(
            GetWindowTextA(s.log.hWnd, shown.data(), static_cast<int>(shown.size()))));
        SendMessageA(s.log.hWnd, EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
        EXPECT_GT(SendMessageA(s.log.hWnd, EM_GETFIRSTVISIBLELINE, 0, 0), 50);
        s.dialog.End();
    };
    s.Run();
    EXPECT_EQ(shown, s.log_text);
    EXPECT_EQ(caret, s.log_text.size());
}

TEST(LogControl, TheUserCannotChangeTheReadOnlyLogButTheTextSurvivesFocusChanges) {
    LogDialog s;
    s.log_text = std::string("Sending file AB") + '\0' + "...\r\n";
    std::string after_typing;
    s.dialog.bStart = [&] {
        SetFocus(s.log.hWnd);
        SendMessageA(s.log.hWnd, WM_CHAR, 'x', 0);
        SendMessageA(s.log.hWnd, WM_CHAR, VK_BACK, 0);
        SendMessageA(s.log.hWnd, WM_KEYDOWN, VK_DELETE, 0);
        SendMessageA(s.log.hWnd, WM_PASTE, 0, 0);
        SendMessageA(s.log.hWnd, WM_CUT, 0, 0);
        after_typing = s.log.GetText();
        SetFocus(nullptr);  // the log loses the focus
        SYSREFRESH();
        s.dialog.End();
    };
    s.Run();
    EXPECT_EQ(after_typing, "Sending file AB ...\r\n");  // the zero byte shows as a blank
    EXPECT_EQ(s.log_text, std::string("Sending file AB") + '\0' + "...\r\n");
}

TEST(LogControl, LosingTheFocusKeepsLinesNotShownYetAndTakesBackATextSetFromOutside) {
    LogDialog s;
    s.log_text = "riga 1\r\n";
    std::string after_first_focus;
    s.dialog.bStart = [&] {
        SetFocus(s.log.hWnd);
        s.log.Append("riga 2\r\n", false);
        SetFocus(nullptr);
        after_first_focus = s.log_text;
        SetFocus(s.log.hWnd);
        SetWindowTextA(s.log.hWnd, "altro\r\n");  // as another program could
        SetFocus(nullptr);
        s.dialog.End();
    };
    s.Run();
    EXPECT_EQ(after_first_focus, "riga 1\r\nriga 2\r\n");
    EXPECT_EQ(s.log_text, "altro\r\n");
}

TEST(LogControl, IsDrawnInTheWindowColoursNotTheDialogGrey) {
    LogDialog s;
    LRESULT brush = 0;
    COLORREF text = 0, back = 0;
    s.dialog.bStart = [&] {
        HDC dc = GetDC(s.log.hWnd);
        brush = SendMessageA(s.dialog.hWnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                             reinterpret_cast<LPARAM>(s.log.hWnd));
        text = GetTextColor(dc);
        back = GetBkColor(dc);
        ReleaseDC(s.log.hWnd, dc);
        s.dialog.End();
    };
    s.Run();
    EXPECT_NE(brush, 0);
    EXPECT_EQ(text, GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(back, GetSysColor(COLOR_WINDOW));
}

TEST(LogControl, TakesItsFontColoursPointerWhenAndChangeCallbacksFromItsOptions) {
    std::string text;
    TDialog dialog;
    MultiGetOptions options;
    options.binding = BindTo(text);
    options.font = std::make_shared<Font>(
        CreateFontA(-20, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Arial"));
    options.text_colour = RGB(0, 0, 128);
    options.pane_colour = RGB(255, 255, 224);
    options.cursor = LoadCursorA(nullptr, IDC_HAND);
    options.when = [] { return false; };
    std::vector<int> changes;
    options.change = [&](int key, LPARAM, TControl& control) {
        EXPECT_EQ(control.hWnd, dialog.aControls.at(0)->hWnd);
        changes.push_back(key);
    };
    TMultiGet log(options);
    HFONT font = nullptr;
    bool enabled = true;
    COLORREF text_colour = 0, pane_colour = 0;
    LRESULT pointer_claimed = FALSE;
    HCURSOR pointer = nullptr;
    dialog.bStart = [&] {
        font = reinterpret_cast<HFONT>(SendMessageA(log.hWnd, WM_GETFONT, 0, 0));
        enabled = IsWindowEnabled(log.hWnd) != FALSE;
        HDC dc = GetDC(log.hWnd);
        SendMessageA(dialog.hWnd, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(log.hWnd));
        text_colour = GetTextColor(dc);
        pane_colour = GetBkColor(dc);
        ReleaseDC(log.hWnd, dc);
        SetCursor(nullptr);
        pointer_claimed = SendMessageA(log.hWnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(log.hWnd),
                                       MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        pointer = GetCursor();
        SendMessageA(log.hWnd, kFwChange, 'x', 0);
        dialog.End();
    };
    dialog.Activate();
    EXPECT_EQ(font, options.font->get());
    EXPECT_FALSE(enabled) << "its when callback said false";
    EXPECT_EQ(text_colour, RGB(0, 0, 128));
    EXPECT_EQ(pane_colour, RGB(255, 255, 224));
    EXPECT_EQ(pointer_claimed, TRUE);
    EXPECT_EQ(pointer, options.cursor);
    EXPECT_EQ(changes, std::vector<int>{'x'});
}

TEST(Controls, IdentifiersCountUpAndADuplicateIsAFrameworkError) {
    TDialog dialog;
    std::string a, b;
    MultiGetOptions options;
    options.binding = BindTo(a);
    TMultiGet first(options);
    TMultiGet second(options);
    EXPECT_EQ(second.nId, first.nId + 1);
    std::vector<errors::ErrorRecord> raised;
    errors::SetErrorCallback([&](const errors::ErrorRecord& r) {
        raised.push_back(r);
        return errors::ErrorAnswer{};
    });
    dialog.DefControl(first);
    errors::SetErrorCallback(nullptr);
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0].SUBCODE, 2);
    EXPECT_EQ(dialog.aControls.size(), 2u);
}

}  // namespace
}  // namespace kestrel::ui
