#pragma once

#include <vector>

#include "ui/control_win32.h"

namespace kestrel::ui {

class TDialog;

// A folder control ("TFOLDER"): a set of pages, each a dialog with its own
// controls and its own modified flag, one of them in front.
class TFolderPages : public TControl {
public:
    std::string ClassName() const override { return "TFOLDER"; }
    virtual const std::vector<TDialog*>& aDialogs() const = 0;
    // Brings page `page` (1-based) to the front.
    virtual void SetOption(int page) = 0;
};

}  // namespace kestrel::ui
