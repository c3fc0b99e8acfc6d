#include "ui/folder_win32.h"

#include <commctrl.h>

#include "ui/common_controls_win32.h"
#include "ui/framework_state_win32.h"

namespace kestrel::ui {

namespace {

// A page: a child dialog without caption or frame that the owner dialog's keyboard
// navigation enters.
constexpr DWORD kPageStyle = WS_CHILD | DS_CONTROL | WS_CLIPSIBLINGS;

}  // namespace

TFolder::TFolder(const Placement& where, const std::vector<std::string>& tabs) : tabs_(tabs) {
    RegisterCommonControls(ICC_TAB_CLASSES);
    nStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS;
    nClrText = GetSysColor(COLOR_BTNTEXT);
    nClrPane = GetSysColor(COLOR_BTNFACE);
    Place(where);
    TDialog* owner = dynamic_cast<TDialog*>(oWnd);
    for (std::size_t i = 0; i < tabs_.size(); ++i) {
        DialogOptions page;
        page.style = kPageStyle;
        page.owner = this;
        page.width = where.width;
        page.height = where.height;
        owned_pages_.push_back(std::make_unique<TDialog>(page));
        owned_pages_.back()->lModify = false;
        owned_pages_.back()->lHelpIcon = false;
        pages_.push_back(owned_pages_.back().get());
    }
    // Building the pages made the last one the default window; controls built next
    // without an owner belong to the folder's own dialog.
    Framework().default_window = owner;
}

std::string TFolder::TemplateClass() const {
    return WC_TABCONTROLA;
}

void TFolder::Initiate(HWND dialog) {
    TControl::Initiate(dialog);
    if (hWnd == nullptr) {
        return;
    }
    // The owner's keyboard navigation goes down into the pages' controls.
    SetWindowLongPtrA(hWnd, GWL_EXSTYLE,
                      GetWindowLongPtrA(hWnd, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
    for (std::size_t i = 0; i < tabs_.size(); ++i) {
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = tabs_[i].data();
        SendMsg(TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&item));
    }
    for (TDialog* page : pages_) {
        ActivateOptions run;
        run.modal = false;
        run.init = [](TDialog&) { return false; };  // the owner keeps the focus
        page->Activate(run);
    }
    LayOutPages();
    SetOption(1);
}

void TFolder::LayOutPages() {
    RECT area{};
    GetClientRect(hWnd, &area);
    SendMsg(TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    for (TDialog* page : pages_) {
        if (page->hWnd != nullptr) {
            MoveWindow(page->hWnd, area.left, area.top, area.right - area.left,
                       area.bottom - area.top, TRUE);
        }
    }
}

void TFolder::SetOption(int page) {
    if (page < 1 || page > static_cast<int>(pages_.size())) {
        return;
    }
    option_ = page;
    SendMsg(TCM_SETCURSEL, static_cast<WPARAM>(page - 1), 0);
    for (int i = 1; i <= static_cast<int>(pages_.size()); ++i) {
        HWND window = pages_[static_cast<std::size_t>(i - 1)]->hWnd;
        if (window != nullptr) {
            ShowWindow(window, i == page ? SW_SHOW : SW_HIDE);
        }
    }
}

EventResult TFolder::Notify(const NMHDR& header) {
    if (header.code == static_cast<UINT>(TCN_SELCHANGE)) {
        SetOption(static_cast<int>(SendMsg(TCM_GETCURSEL)) + 1);
    }
    return EventResult::None();
}

}  // namespace kestrel::ui
