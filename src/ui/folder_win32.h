#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/control_win32.h"
#include "ui/dialog_win32.h"

namespace kestrel::ui {

// A folder control ("TFOLDER"): a set of pages, each a dialog with its own
// controls and its own modified flag, one of them in front.
class TFolderPages : public TControl {
  public:
    std::string ClassName() const override { return "TFOLDER"; }
    virtual const std::vector<TDialog*>& aDialogs() const = 0;
    // Brings page `page` (1-based) to the front.
    virtual void SetOption(int page) = 0;
};

// The folder over the platform's tab control: one tab per page; each page is a
// modeless child dialog laid over the tab's display area, shown while its tab is
// selected. The pages exist (and take controls) from construction; their windows
// are made when the owner dialog initialises the folder.
class TFolder : public TFolderPages {
  public:
    TFolder(const Placement& where, const std::vector<std::string>& tabs);

    std::string TemplateClass() const override;
    const std::vector<TDialog*>& aDialogs() const override { return pages_; }
    void SetOption(int page) override;
    // The page in front (1-based), 0 when there is none.
    int nOption() const { return option_; }

    void Initiate(HWND dialog) override;
    EventResult Notify(const NMHDR& header) override;

  private:
    void LayOutPages();

    std::vector<std::string> tabs_;
    std::vector<std::unique_ptr<TDialog>> owned_pages_;
    std::vector<TDialog*> pages_;
    int option_ = 0;
};

}  // namespace kestrel::ui
