#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ui/gdi_object_win32.h"
#include "ui/window_win32.h"

namespace kestrel::ui {

class TDialog;

// A value a control shows and edits, kept by the control's creator: reading gives
// the current value, writing replaces it, appending (when the binding can) adds to
// its end without copying what it holds.
struct Binding {
    std::function<std::string()> get;
    std::function<void(std::string)> set;
    std::function<void(std::string_view)> append;
};

// Binds a control to a string variable that outlives it.
Binding BindTo(std::string& variable);

// Where a control goes: a box in pixels inside an owner dialog built in memory, or
// the identifier of an item of the owner's dialog resource, which the control then
// takes over when the dialog initialises.
struct Placement {
    int top = 0;
    int left = 0;
    int width = 0;
    int height = 0;
    class TDialog* owner = nullptr;  // default: the dialog built last
    std::optional<int> resource_id;

    static Placement Box(class TDialog* owner, int top, int left, int width, int height) {
        Placement where;
        where.owner = owner;
        where.top = top;
        where.left = left;
        where.width = width;
        where.height = height;
        return where;
    }
    static Placement Item(class TDialog* owner, int id) {
        Placement where;
        where.owner = owner;
        where.resource_id = id;
        return where;
    }
};

// The next control identifier: 101, 102, ... up to 30000, then 100 again.
int NextControlId();

// What every control of the framework shares: its identifier inside the owner
// dialog, its binding, its colours and font, the default key handling, and the
// validation of its contents when the focus leaves it.
//
// That validation is deferred: losing the focus only posts kFwValid to the control,
// and bValid runs when that message arrives, once the platform has finished moving
// the focus; a refusal gives the focus back. It runs only when the focus went to
// another window of the same dialog (not to another program, nor to a message box
// that bValid itself shows), while the dialog is not ending, and never inside
// another validation of the same dialog.
class TControl : public TWindow {
  public:
    int nId = 0;
    Binding bSetGet;
    COLORREF nClrText = 0;
    COLORREF nClrPane = 0;
    std::shared_ptr<const Font> oFont;  // the control's font; none: the owner's
    std::string cMsg;                   // status text (kept; no window shows it)
    bool lUpdate = false;               // update flag (kept)
    std::function<void(TControl&)> bInit;
    // When set and false, the control is inactive: the owner disables it when it
    // initialises (TDialog::aEvalWhen) and validation passes it over.
    std::function<bool()> bWhen;
    // The control's own validity test, when it has one: true means valid.
    std::function<bool(TControl&)> Cargo;
    // Run when the focus has left the control for another control of the dialog:
    // false gives the focus back.
    std::function<bool(TControl&)> bValid;
    // Run after the user changed the contents, with the key (or character) that
    // changed them, its flags and the control.
    std::function<void(int nKey, LPARAM nFlags, TControl&)> bChange;
    KeyCallback bKeyUp;  // a key was released over the control

    // What the bound value is, for validation: dates and numbers are checked by the
    // control's own rules.
    enum class ValueKind { kText, kDate, kNumber };
    virtual ValueKind Kind() const { return ValueKind::kText; }
    // The text being edited (the window's text).
    std::string GetText() const;
    // True when the edit text is not a valid date / the number does not fit.
    virtual bool BadDate() const { return false; }
    virtual bool BadNumber() const { return false; }

    // The control's item in the owner's in-memory dialog template.
    virtual std::string TemplateClass() const = 0;
    virtual std::string TemplateCaption() const { return {}; }

    // Runs when the owner dialog initialises: finds the control's window by its
    // identifier (error "Non defined Id" when it is not there), enables and links
    // it, applies the owner's font.
    virtual void Initiate(HWND dialog);

    // Fills the owner's client area (the owner's SetControl and every resize).
    virtual void AdjClient();

    std::string VarGet() const { return bSetGet.get ? bSetGet.get() : std::string(); }
    void VarPut(std::string value) {
        if (bSetGet.set) {
            bSetGet.set(std::move(value));
        }
    }

    // The owner passes on a notification of this control (WM_NOTIFY).
    virtual EventResult Notify(const NMHDR& /*header*/) { return EventResult::None(); }

    // Sets the colours the control is drawn in.
    void SetColor(COLORREF text, COLORREF pane);

    // True when the control is pressed by Alt and `key` (a button's hot key).
    virtual bool HasHotKey(int /*key*/) const { return false; }

    EventResult HandleEvent(UINT message, WPARAM wparam, LPARAM lparam) override;
    EventResult KeyDown(int key, LPARAM flags) override;
    virtual EventResult KeyUp(int key, LPARAM flags);
    // Alt with a key: presses the owner's button that has it as its hot key.
    virtual EventResult SysKeyDown(int key, LPARAM flags);
    virtual EventResult SysChar(int key, LPARAM flags);
    // The focus goes: the validation is posted (kFwValid), then LostFocus runs.
    virtual EventResult KillFocus(HWND next);
    // The contents changed: bChange runs.
    virtual EventResult Change(int key, LPARAM flags);
    // The posted validation of a control that lost the focus to `next`.
    virtual EventResult Validate(HWND next);
    // The platform asks for help on the control (WM_HELP, as after a click in the
    // context-help mode): the key table's F1 handler runs with the control, whose
    // nHelpId names the topic.
    virtual EventResult HelpTopic();
    // The keyboard cues (focus rectangles, underlined hot keys) are shown or hidden:
    // the control's own window updates its state, and a check box or radio button
    // has its owner repainted, since it draws on the owner's background.
    virtual EventResult UpdateUiState(WPARAM wparam, LPARAM lparam);

  protected:
    // Places a newly built control: attached to the owner's template when the owner
    // has no window yet, created at once otherwise.
    void Attach(TDialog& owner);
    // Takes the box and identifier of `where` (a new identifier unless it names a
    // resource item) and attaches the control to its owner.
    void Place(const Placement& where);
    virtual EventResult Colors(HDC dc);
    // The owner passes on a command of this control (its notification code).
    virtual EventResult Click(int /*notification*/) { return EventResult::None(); }

  private:
    Brush pane_brush_;  // the background brush, made for nClrPane on first use
    COLORREF pane_brush_colour_ = 0;
};

}  // namespace kestrel::ui
