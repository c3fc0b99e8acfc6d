#pragma once

#include <windows.h>

#include "ui/control_win32.h"

namespace kestrel::ui {

// A progress bar ("TPROGRESS"), the platform's common progress control.
class TProgress : public TControl {
  public:
    explicit TProgress(const Placement& where);

    std::string ClassName() const override { return "TPROGRESS"; }
    std::string TemplateClass() const override;

    void SetRange(int minimum, int maximum);
    void SetPos(int position);
    int GetPos() const;
};

}  // namespace kestrel::ui
