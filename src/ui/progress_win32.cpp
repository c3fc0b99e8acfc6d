#include "ui/progress_win32.h"

#include <commctrl.h>

#include "ui/common_controls_win32.h"

namespace kestrel::ui {

TProgress::TProgress(const Placement& where) {
    RegisterCommonControls(ICC_PROGRESS_CLASS);
    nStyle = WS_CHILD | WS_VISIBLE;
    Place(where);
}

std::string TProgress::TemplateClass() const {
    return PROGRESS_CLASSA;
}

void TProgress::SetRange(int minimum, int maximum) {
    SendMsg(PBM_SETRANGE32, static_cast<WPARAM>(minimum), static_cast<LPARAM>(maximum));
}

void TProgress::SetPos(int position) {
    SendMsg(PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

int TProgress::GetPos() const {
    return static_cast<int>(SendMsg(PBM_GETPOS));
}

}  // namespace kestrel::ui
