#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ui/control_win32.h"
#include "ui/edit_text.h"

namespace kestrel::ui {

class TDialog;

// Construction options, in the order of the control's parameters; what is left
// out takes the default shown.
struct MultiGetOptions {
    int top = 0;
    int left = 0;
    Binding binding;
    TDialog* owner = nullptr;  // default: the dialog built last
    int width = 200;
    int height = 80;
    std::shared_ptr<const Font> font;  // default: the owner's font
    bool horizontal_scroll = false;
    std::optional<COLORREF> text_colour;  // default: the system's window text colour
    std::optional<COLORREF> pane_colour;  // default: the system's window colour
    HCURSOR cursor = nullptr;             // default: the EDIT window's own
    std::string message;                  // status text
    bool update = false;
    std::function<bool()> when;  // false: the control is disabled when the dialog starts
    bool centered = false;
    bool right_aligned = false;
    bool read_only = false;
    std::function<bool(TControl&)> valid;  // false: the focus returns to the control
    std::function<void(int key, LPARAM flags, TControl&)> change;
    bool no_border = false;
    bool no_vertical_scroll = false;
};

// A multi-line text control (the platform's EDIT window) bound to a string of its
// creator. The session window's log is one, read-only: the user can look at,
// scroll, select and copy the text, never change it.
class TMultiGet : public TControl {
  public:
    explicit TMultiGet(const MultiGetOptions& options);

    bool lReadOnly = false;
    bool lDelete = false;  // lets the Delete key through although read-only
    int nLen = 0;          // input length limit; 0 is none

    std::string ClassName() const override { return "TMULTIGET"; }
    std::string TemplateClass() const override { return "EDIT"; }

    void Initiate(HWND dialog) override;

    // Shows the bound text again, whole.
    void Refresh();
    // Adds text at the end of the bound text, without copying what it holds (a log
    // that grows line by line), and shows it at once, or with `show_now` false at the
    // next ShowAppended (the window's own update costs milliseconds).
    void Append(std::string_view text, bool show_now = true);
    // The window shows what Append has added since it last did; one update for all.
    void ShowAppended();
    // Caret after the last character, view scrolled to the last line.
    void GoBottom();
    // The caret position: the start of the selection.
    int GetPos() const;

    EventResult HandleEvent(UINT message, WPARAM wparam, LPARAM lparam) override;
    EventResult KeyDown(int key, LPARAM flags) override;
    EventResult KeyChar(int key, LPARAM flags) override;
    EventResult GotFocus(HWND previous) override;
    EventResult LostFocus(HWND next) override;
    EventResult LButtonDown(int row, int column, WPARAM flags) override;

  private:
    void Show(std::string text);                 // replaces the whole text of the window
    void AddToWindow(const std::string& added);  // adds to the end of the window's text

    std::string shown_;    // what the window shows, as last set by the program (or
                           // taken back from the window when the focus left it)
    std::string pending_;  // appended to the bound text, not yet to the window
};

}  // namespace kestrel::ui
