#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/control_win32.h"
#include "ui/window_win32.h"

namespace kestrel::ui {

// Construction options of a dialog; every one may be left out and then takes the
// default shown.
struct DialogOptions {
    int top = 0;
    int left = 0;
    int bottom = 10;  // rows, unless pixels
    int right = 40;   // columns, unless pixels
    std::string caption;
    std::string resource_name;   // empty: the template is built in memory
    std::optional<DWORD> style;  // default: modal frame, popup, caption, system menu
    TWindow* owner = nullptr;
    bool pixels = false;         // the coordinates are pixels
    int width = 0;               // a width or height makes the coordinates pixels:
    int height = 0;              // 0, 0, height, width
    bool true_pixel = false;     // controls' boxes are not converted to dialog units
    std::optional<int> help_id;  // the dialog's help topic (nHelpId)
};

// Options of a run; what is left out keeps the default shown.
struct ActivateOptions {
    ClickCallback lclicked;  // bLClicked: the left button pressed on the dialog
    MoveCallback moved;      // bMoved: the dialog was moved
    PaintCallback painted;   // bPainted: the dialog paints, before the start callback
    bool centered = false;
    std::function<bool(class TDialog&)> valid;
    std::function<bool(class TDialog&)> init;  // false: the platform sets no default focus
    ClickCallback rclicked;                    // bRClicked: the right button pressed on it
    std::function<bool(class TDialog&)> when;  // not true: no window is made
    bool resize16 = false;
    bool center_in_owner = false;
    // False: the dialog is modeless; Activate shows it and returns at once, and it
    // lives on, pumped by the caller's loops, until it is ended or destroyed.
    bool modal = true;
};

inline constexpr DWORD kDefaultDialogStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;

// The framework's dialog window. Built first, with its controls attached while it
// has no window; Activate then builds a dialog template in memory, runs it
// modally, and returns when the dialog has closed. Around that run the creator's
// callbacks run at fixed points: bInit once the window and its controls exist and
// before it shows, bStart once right after the first paint (inside the paint
// handling: a long-running start callback pumps messages itself), bValid on every
// request to end the dialog.
//
// A modeless dialog (ActivateOptions::modal false) is created hidden, entered in
// the window table and, when it has controls, in the modeless dialog list that the
// message pump offers keyboard navigation to; it is shown without being activated
// and Activate returns. Its End posts a close request; the close consults bValid and
// destroys the window. Destroying the object destroys a window still open.
//
// A dialog with a resource name is built from that dialog resource of the program;
// its controls bind to the resource's items by identifier.
class TDialog : public TWindow {
  public:
    explicit TDialog(const DialogOptions& options = {});
    ~TDialog() override;

    std::string cCaption;
    std::string cResName;
    std::vector<TControl*> aControls;  // in attachment order; owned by the creator
    TControl* oClient = nullptr;       // the control that fills the client area
    std::function<bool(TDialog&)> bInit;
    std::function<bool(TDialog&)> bValid;
    std::function<bool(TDialog&)> bWhen;
    std::function<void()> bStart;    // run once, at the first paint, then cleared
    std::optional<int> nResult = 0;  // the end value; empty during the run
    bool lModal = true;
    bool lCentered = false;
    bool lCenterInWnd = false;
    bool lResize16 = false;
    bool lModify = true;
    // Empty or true: the context-help button is added. True (also once the user has
    // asked for context help): a left click on the dialog shows the program's help.
    std::optional<bool> lHelpIcon;
    bool lVisible = false;
    bool lValidating = false;
    int nLastKey = 0;
    bool lTruePixel = false;
    HFONT oFont = nullptr;     // the dialog's font (the window's, not owned)
    std::optional<int> Cargo;  // close code of the library's dialogs (1 OK, 2 cancel)

    std::string ClassName() const override { return "TDIALOG"; }

    // Runs the dialog modally and returns when it has closed; or, modeless, shows it
    // and returns at once.
    void Activate(const ActivateOptions& options = {});

    // Asks to end the dialog with a result (2 when none); bValid may refuse. True
    // when the end was accepted.
    bool End(std::optional<int> result = std::nullopt);

    // True once an end of the running dialog has been accepted, or when it does not
    // run at all.
    bool IsEnded() const { return hWnd == nullptr || nResult.has_value(); }

    // Makes `control` the client control, fitted to the client area now and on
    // every resize.
    void SetControl(TControl& control);

    // Attaches a control built while the dialog has no window.
    void DefControl(TControl& control);

    // Enables each control that has a "when" callback while it answers true, and
    // disables it otherwise.
    void aEvalWhen();

    EventResult HandleEvent(UINT message, WPARAM wparam, LPARAM lparam) override;
    EventResult Initiate(HWND focus, HWND dialog);
    EventResult Display();
    EventResult KeyDown(int key, LPARAM flags) override;
    EventResult Command(WPARAM wparam, LPARAM lparam) override;
    EventResult SysCommand(WPARAM type, LPARAM lparam) override;
    EventResult Close(WPARAM result) override;
    EventResult ReSize(WPARAM size_type, int width, int height) override;
    EventResult QueryEndSession() override;
    EventResult Destroy() override;

    // The in-memory template of this dialog and its controls.
    std::vector<std::uint8_t> Template() const;

  private:
    void ActivateModal(HWND owner);
    void ActivateModeless(HWND owner);
    TControl* ControlWithId(int id) const;
    bool CentresOnOwner() const;
};

// SETDIALOGESC: whether Esc ends a dialog (on until changed). Returns the old value.
bool SETDIALOGESC(std::optional<bool> on = std::nullopt);
// SETCENTERONPARENT: whether centred dialogs centre on their owner (off until changed).
bool SETCENTERONPARENT(std::optional<bool> on = std::nullopt);

}  // namespace kestrel::ui
