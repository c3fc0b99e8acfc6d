#pragma once

#include <windows.h>

#include <string>

#include "ui/control_win32.h"

namespace kestrel::ui {

// What an input field holds, and for numbers the field's size.
struct GetFormat {
    TControl::ValueKind kind = TControl::ValueKind::kText;
    int width = 10;    // numbers: characters in the field, sign and point included
    int decimals = 0;  // numbers: digits after the point
};

// A one-line input field ("TGET"), the platform's EDIT window bound to a value of
// its creator. Every change the user makes reaches the bound value at once and marks
// the owner dialog modified. A date field reads "dd/mm/yy" and "  /  /  " when
// empty; a number field holds a number of the format's size.
class TGet : public TControl {
  public:
    TGet(const Placement& where, Binding binding, GetFormat format = {});

    std::string ClassName() const override { return "TGET"; }
    std::string TemplateClass() const override { return "EDIT"; }
    ValueKind Kind() const override { return format_.kind; }
    bool BadDate() const override;
    bool BadNumber() const override;

    void Initiate(HWND dialog) override;
    // Shows the bound value again (the owner's modified flag is left alone).
    void Refresh();

  protected:
    EventResult Click(int notification) override;

  private:
    GetFormat format_;
    bool showing_ = false;  // the program itself is setting the text
};

}  // namespace kestrel::ui
