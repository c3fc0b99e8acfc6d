#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "ui/control_win32.h"

namespace kestrel::ui {

// A push button ("TBUTTON") that runs its action when pressed (clicked, or Enter
// when it is the dialog's default button).
class TButton : public TControl {
  public:
    TButton(const Placement& where, std::string caption, std::function<void()> action,
            bool default_button = false);

    std::function<void()> bAction;

    std::string ClassName() const override { return "TBUTTON"; }
    std::string TemplateClass() const override { return "BUTTON"; }
    std::string TemplateCaption() const override { return caption_; }
    // The letter after "&" in the caption ("&Annulla": Alt+A), as a key.
    bool HasHotKey(int key) const override;

  protected:
    EventResult Click(int notification) override;

  private:
    std::string caption_;
};

}  // namespace kestrel::ui
