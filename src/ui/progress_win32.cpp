#include "ui/progress_win32.h"

#include <commctrl.h>

namespace kestrel::ui {

namespace {

// The common controls register their window classes on request, once per process.
void RegisterProgressClass() {
    static const bool registered = [] {
        INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
        return InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)registered;
}

}  // namespace

TProgress::TProgress(const Placement& where) {
    RegisterProgressClass();
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
