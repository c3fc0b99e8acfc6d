#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "serial/port.h"
#include "ui/event_result_win32.h"

namespace kestrel::ui {

// The window message that the serial port layer sends to announce received bytes.
inline constexpr UINT WM_COMMNOTIFY_KESTREL = serial::kCommNotifyMessage;

// The framework's own messages.
inline constexpr UINT kFwClick = 2048;   // a control was clicked
inline constexpr UINT kFwChange = 2053;  // a control's contents changed (key, flags)
inline constexpr UINT kFwColors = 2054;  // the owner asks a control for its colours
inline constexpr UINT kFwValid = 2057;   // validate a control that lost the focus

// Callbacks a window evaluates on its events. Positions are the pointer's row and
// column in the window's client area (for a move: of the client area's top left
// corner on the screen or in the owner); key flags are the message's own.
using ClickCallback = std::function<void(int nRow, int nCol, WPARAM nKeyFlags)>;
using MoveCallback = std::function<void(int nRow, int nCol)>;
using PaintCallback = std::function<void(HDC hDC)>;
using KeyCallback = std::function<void(int nKey, LPARAM nFlags)>;

// Every window the framework manages is bound to one object of this class or a
// descendant. A message for the window becomes a call of HandleEvent, which routes
// it to a named event method; the method's EventResult decides whether the
// platform's own handling still runs.
//
// Controls (and modeless dialogs) are entered in the window table and their window
// procedure is replaced by the framework's subclass procedure (Link); their index in
// the table lives in the window's user-data word. A modal dialog is not linked: its
// messages arrive through the framework's dialog procedure.
class TWindow {
  public:
    TWindow() = default;
    TWindow(const TWindow&) = delete;
    TWindow& operator=(const TWindow&) = delete;
    virtual ~TWindow();

    // Fields (written on the window thread only).
    HWND hWnd = nullptr;         // the platform window, null while there is none
    TWindow* oWnd = nullptr;     // owner window object, or none
    WNDPROC nOldProc = nullptr;  // the procedure that subclassing replaced
    int nTop = 0;                // box in pixels, bottom and right inclusive
    int nLeft = 0;
    int nBottom = 0;
    int nRight = 0;
    DWORD nStyle = 0;
    DWORD nExStyle = 0;
    std::optional<int> nHelpId;  // the window's help topic, for the program's help
    HCURSOR oCursor = nullptr;   // the pointer over the window; none: the class's
    // Called on the port layer's receive notification with its wParam and lParam.
    std::function<EventResult(WPARAM, LPARAM)> bCommNotify;
    ClickCallback bLClicked;   // left button pressed over the window
    ClickCallback bLButtonUp;  // left button released over the window
    ClickCallback bRClicked;   // right button pressed over the window
    MoveCallback bMoved;       // the window was moved
    PaintCallback bPainted;    // the window paints, with the paint context
    KeyCallback bKeyDown;      // a key went down that the window does not handle itself

    virtual EventResult HandleEvent(UINT message, WPARAM wparam, LPARAM lparam);
    virtual std::string ClassName() const { return "TWINDOW"; }

    // Event methods: routed from the messages of the same meaning.
    virtual EventResult Destroy();
    virtual EventResult ReSize(WPARAM size_type, int width, int height);
    virtual EventResult GotFocus(HWND previous);
    virtual EventResult LostFocus(HWND next);
    virtual EventResult Paint(HDC dc);
    virtual EventResult Close(WPARAM result);
    virtual EventResult CommNotify(WPARAM wparam, LPARAM lparam);
    virtual EventResult GetDlgCode(WPARAM wparam);
    virtual EventResult KeyDown(int key, LPARAM flags);
    virtual EventResult KeyChar(int key, LPARAM flags);
    virtual EventResult Command(WPARAM wparam, LPARAM lparam);
    virtual EventResult SysCommand(WPARAM type, LPARAM lparam);
    virtual EventResult QueryEndSession();
    virtual EventResult CtlColor(HWND child, HDC dc);
    virtual EventResult LButtonDown(int row, int column, WPARAM flags);
    virtual EventResult LButtonUp(int row, int column, WPARAM flags);
    virtual EventResult RButtonDown(int row, int column, WPARAM flags);
    virtual EventResult Moved(int row, int column);
    // Over the client area, the window's own pointer when it has one.
    EventResult SetCursorShape(LPARAM hit_test);

    // The program's help for this window: the handler that the key table binds to
    // F1, run with this window (its nHelpId names the topic). Nothing without one.
    EventResult Help();

    // Enters the window in the window table and subclasses it; Unlink undoes both.
    void Link();
    void Unlink();
    bool IsLinked() const { return table_index_ != 0; }

    // Sends a message to this object's window.
    LRESULT SendMsg(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) const;

  protected:
    // Runs the key table's handler of `key` with this window, if there is one.
    bool RunKeyHandler(int key);

  private:
    friend class WindowTable;
    std::size_t table_index_ = 0;  // 1-based entry in the window table, 0 when not linked
};

// The object bound to a linked window, or null.
TWindow* LinkedWindow(HWND window);

// Moves `window` so that it is centred on `reference` (the desktop when null or
// not a window), keeping its size.
void WNDCENTER(HWND window, HWND reference);

}  // namespace kestrel::ui
