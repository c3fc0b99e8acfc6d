#pragma once

#include <windows.h>

#include <string>

#include "ui/control_win32.h"
#include "ui/gdi_object_win32.h"

namespace kestrel::ui {

// A fixed text ("TSAY"): shows its bound value, or a text of its own, and takes no
// input. Validation passes it over.
class TSay : public TControl {
  public:
    TSay(const Placement& where, Binding binding, DWORD extra_style = 0);

    std::string ClassName() const override { return "TSAY"; }
    std::string TemplateClass() const override { return "STATIC"; }
    std::string TemplateCaption() const override { return VarGet(); }

    void Initiate(HWND dialog) override;
    // Shows `text` (and keeps it as the bound value).
    void SetText(const std::string& text);
    // Shows the bound value again.
    void Refresh();
};

// A fixed text showing `text` itself.
Binding FixedText(std::string text);

// An icon ("TICON") showing one of the platform's own icons, by number.
class TIcon : public TControl {
  public:
    TIcon(const Placement& where, int system_icon);

    std::string ClassName() const override { return "TICON"; }
    std::string TemplateClass() const override { return "STATIC"; }
    void Initiate(HWND dialog) override;

  private:
    int system_icon_;
};

// A picture ("TBITMAP") showing a bitmap resource of the program.
class TBitmap : public TControl {
  public:
    TBitmap(const Placement& where, std::string resource);

    std::string ClassName() const override { return "TBITMAP"; }
    std::string TemplateClass() const override { return "STATIC"; }
    void Initiate(HWND dialog) override;
    bool HasPicture() const { return bitmap_.get() != nullptr; }

  private:
    std::string resource_;
    GdiObject<HBITMAP> bitmap_;
};

}  // namespace kestrel::ui
