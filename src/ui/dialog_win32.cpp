#include "ui/dialog_win32.h"

#include <algorithm>

#include "serial/key_state.h"
#include "ui/dialog_run_win32.h"
#include "ui/dialog_template.h"
#include "ui/framework_errors.h"
#include "ui/framework_state_win32.h"
#include "ui/message_pump.h"

namespace kestrel::ui {

namespace {

// Rows and columns to pixels, for dialogs not given in pixels. Layouts in rows and
// columns are laid out on a text screen's grid: a row is the height of a line of the
// system font with its leading (15.1 pixels), a column the width of one of its
// average characters (7.9), so a dialog keeps the proportions its author saw.
int RowToPixels(int row) {
    return static_cast<int>(row * 15.1);
}
int ColumnToPixels(int column) {
    return static_cast<int>(column * 7.9);
}

// Resource dialogs drawn for the narrower system font of 16-bit Windows are widened
// by 7/6 with their controls, so that their texts still fit.
void WidenResourceDialog(HWND dialog) {
    constexpr double kWidening = 1.16668;
    const auto widened = [](LONG pixels) { return static_cast<int>(pixels * kWidening); };
    RECT frame{};
    GetWindowRect(dialog, &frame);
    SetWindowPos(dialog, nullptr, 0, 0, widened(frame.right - frame.left), frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        RECT box{};
        GetWindowRect(child, &box);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&box), 2);
        MoveWindow(child, widened(box.left), box.top, widened(box.right - box.left),
                   box.bottom - box.top, FALSE);
    }
}

std::string RightTrimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

// Text in the ANSI or OEM code page as the UTF-16 of a template.
std::u16string Utf16(const std::string& text, UINT code_page) {
    if (text.empty()) {
        return {};
    }
    int length =
        MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return std::u16string(wide.begin(), wide.end());
}

DialogBaseUnits BaseUnits() {
    LONG units = GetDialogBaseUnits();
    return {std::max(1, static_cast<int>(LOWORD(units))),
            std::max(1, static_cast<int>(HIWORD(units)))};
}

}  // namespace

TDialog::TDialog(const DialogOptions& options) {
    nTop = options.top;
    nLeft = options.left;
    nBottom = options.bottom;
    nRight = options.right;
    bool pixels = options.pixels;
    if (options.width != 0 || options.height != 0) {
        pixels = true;
        nBottom = options.height;
        nRight = options.width;
    }
    cCaption = RightTrimmed(options.caption);
    cResName = options.resource_name;
    nStyle = options.style.value_or(kDefaultDialogStyle);
    oWnd = options.owner;
    lTruePixel = options.true_pixel;
    nHelpId = options.help_id;
    if (!pixels) {
        nTop = RowToPixels(nTop);
        nLeft = ColumnToPixels(nLeft);
        nBottom = RowToPixels(nBottom);
        nRight = ColumnToPixels(nRight);
    }
    Framework().default_window = this;  // controls built without an owner land here
}

TDialog::~TDialog() {
    if (!lModal && hWnd != nullptr && IsWindow(hWnd)) {
        DestroyWindow(hWnd);  // a modeless window never outlives its object
    }
    FrameworkState& fw = Framework();
    if (fw.default_window == this) {
        fw.default_window = nullptr;
    }
    for (PendingDialog& slot : fw.pending) {
        if (slot.dialog == this) {
            slot.dialog = nullptr;
        }
    }
}

void TDialog::DefControl(TControl& control) {
    if (ControlWithId(control.nId) != nullptr) {
        RaiseFrameworkError(FrameworkError::kDuplicatedId, ControlIdOperation(control.nId));
        return;
    }
    aControls.push_back(&control);
    control.hWnd = nullptr;
}

TControl* TDialog::ControlWithId(int id) const {
    auto found = std::find_if(aControls.begin(), aControls.end(),
                              [id](const TControl* c) { return c->nId == id; });
    return found == aControls.end() ? nullptr : *found;
}

std::vector<std::uint8_t> TDialog::Template() const {
    const DialogBaseUnits units = BaseUnits();
    RECT owner{};
    if (oWnd != nullptr && oWnd->hWnd != nullptr) {
        GetWindowRect(oWnd->hWnd, &owner);
    }
    TemplateHeader header;
    header.style = nStyle;
    header.box = DialogUnitsOf({nTop, nLeft, nBottom, nRight}, owner.left, owner.top, units);
    header.caption = Utf16(cCaption, CP_OEMCP);

    std::vector<TemplateItem> items;
    for (const TControl* control : aControls) {
        TemplateItem item;
        item.style = control->nStyle;
        item.id = static_cast<std::uint16_t>(control->nId);
        PixelBox box{control->nTop, control->nLeft, control->nBottom, control->nRight};
        item.box = lTruePixel ? DialogUnitBox{static_cast<std::int16_t>(box.left),
                                              static_cast<std::int16_t>(box.top),
                                              static_cast<std::int16_t>(box.right - box.left + 1),
                                              static_cast<std::int16_t>(box.bottom - box.top + 1)}
                              : ItemUnitsOf(box, units);
        item.class_name = Utf16(control->TemplateClass(), CP_ACP);
        item.caption = Utf16(control->TemplateCaption(), CP_ACP);
        items.push_back(std::move(item));
    }
    return BuildDialogTemplate(header, items);
}

void TDialog::Activate(const ActivateOptions& options) {
    FrameworkState& fw = Framework();
    hWnd = nullptr;
    nLastKey = 0;
    ++fw.activations;
    struct ActivationCount {
        ~ActivationCount() { --Framework().activations; }
    } count;

    HWND owner = nullptr;
    if (oWnd != nullptr) {
        owner = oWnd->hWnd;
    } else if (fw.activations > 1 || fw.loop_running) {
        owner = GetActiveWindow();
    } else {
        owner = fw.main_window;
    }

    lCentered = options.centered;
    lCenterInWnd = options.center_in_owner;
    lModal = options.modal;
    bLClicked = options.lclicked;
    bRClicked = options.rclicked;
    bWhen = options.when;
    bValid = options.valid;
    bInit = options.init;
    bPainted = options.painted;
    bMoved = options.moved;
    lResize16 = options.resize16;
    nResult.reset();
    lValidating = false;
    lVisible = true;

    if (bWhen && !bWhen(*this)) {
        nResult = 2;
        lVisible = false;
        return;
    }

    if (lModal) {
        ActivateModal(owner);
    } else {
        ActivateModeless(owner);
    }
}

void TDialog::ActivateModal(HWND owner) {
    struct Hidden {
        TDialog& dialog;
        ~Hidden() { dialog.lVisible = false; }
    } hidden{*this};
    HINSTANCE instance = GetModuleHandleA(nullptr);
    INT_PTR result = cResName.empty() ? DIALOGBOXINDIRECT(instance, Template(), owner, *this)
                                      : DIALOGBOX(instance, cResName, owner, *this);
    nResult = static_cast<int>(static_cast<std::uint16_t>(result));
    if (*nResult == 65535) {
        RaiseFrameworkError(FrameworkError::kCannotCreateDialog,
                            DialogOperation(cResName, cCaption));
    }
}

namespace {

void NoMoreModelessDialogs() {
    MessageBoxA(GetActiveWindow(), "Not possible to create more non-modal Dialogs", "Alert",
                MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

void TDialog::ActivateModeless(HWND owner) {
    ModelessList& modeless = Framework().modeless;
    const bool listed = !aControls.empty();  // only a dialog with controls navigates
    if (listed && !modeless.CanRegister()) {
        lVisible = false;
        NoMoreModelessDialogs();
        return;
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    HWND window = cResName.empty() ? CREATEDLGINDIRECT(instance, Template(), owner)
                                   : CREATEDLG(instance, cResName, owner);
    if (window == nullptr) {
        lVisible = false;
        RaiseFrameworkError(FrameworkError::kCannotCreateDialog,
                            DialogOperation(cResName, cCaption));
        return;
    }
    if (listed && !modeless.Register(reinterpret_cast<ModelessList::Handle>(window))) {
        DestroyWindow(window);  // not bound yet: nothing else knows the window
        lVisible = false;
        NoMoreModelessDialogs();
        return;
    }
    if (Initiate(nullptr, window).IsTrue() && hWnd != nullptr) {
        SetFocus(hWnd);
    }
    if (hWnd == nullptr || nResult.has_value()) {
        return;  // ended while initialising
    }
    lVisible = true;
    ShowWindow(hWnd, SW_SHOWNA);
    InvalidateRect(hWnd, nullptr, TRUE);
}

EventResult TDialog::HandleEvent(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG:
            return Initiate(reinterpret_cast<HWND>(wparam), reinterpret_cast<HWND>(lparam));
        case WM_PAINT:
            return Display();
        case WM_PRINTCLIENT:
            return EventResult::Number(1);
        case WM_LBUTTONDOWN:
            if (lHelpIcon.value_or(false)) {
                return Help();
            }
            return TWindow::HandleEvent(message, wparam, lparam);
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lparam);
            TControl* control = ControlWithId(static_cast<int>(header->idFrom));
            return control != nullptr ? control->Notify(*header) : EventResult::None();
        }
        case WM_COMMAND:
            if (!lModal) {
                // A modeless dialog claims what it handled: its platform procedure
                // would otherwise end it on IDOK or IDCANCEL behind bValid's back.
                EventResult handled = Command(wparam, lparam);
                return handled.IsTrue() ? EventResult::Number(0) : handled;
            }
            return Command(wparam, lparam);
        default:
            return TWindow::HandleEvent(message, wparam, lparam);
    }
}

EventResult TDialog::Initiate(HWND, HWND dialog) {
    hWnd = dialog;
    if (!lModal) {
        Link();
    }
    oFont = reinterpret_cast<HFONT>(SendMessageA(hWnd, WM_GETFONT, 0, 0));
    for (TControl* control : aControls) {
        control->Initiate(hWnd);
    }
    if (!cResName.empty() && lResize16) {
        WidenResourceDialog(hWnd);
    }
    if (lCentered) {
        HWND reference = nullptr;
        if (CentresOnOwner()) {
            reference = oWnd != nullptr ? oWnd->hWnd : Framework().main_window;
        }
        WNDCENTER(hWnd, reference);
    } else if (cResName.empty()) {
        SetWindowPos(hWnd, nullptr, nLeft, nTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SetWindowTextA(hWnd, cCaption.c_str());
    if (!cResName.empty()) {
        nStyle = static_cast<DWORD>(GetWindowLongPtrA(hWnd, GWL_STYLE));
    }
    PostMessageA(hWnd, WM_KEYDOWN, VK_TAB, 0);

    bool default_focus = true;
    if (bInit && !bInit(*this)) {
        default_focus = false;
    }
    if (hWnd == nullptr || !IsWindow(hWnd)) {
        return EventResult::Logical(default_focus);
    }
    if (!lHelpIcon.has_value() || *lHelpIcon) {
        SetWindowLongPtrA(hWnd, GWL_EXSTYLE,
                          GetWindowLongPtrA(hWnd, GWL_EXSTYLE) | WS_EX_CONTEXTHELP);
    }
    aEvalWhen();
    return EventResult::Logical(default_focus);
}

void TDialog::aEvalWhen() {
    for (TControl* control : aControls) {
        if (control->bWhen && control->hWnd != nullptr) {
            EnableWindow(control->hWnd, control->bWhen() ? TRUE : FALSE);
        }
    }
}

bool TDialog::CentresOnOwner() const {
    return Framework().center_on_parent || lCenterInWnd;
}

EventResult TDialog::Display() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hWnd, &ps);
    Paint(dc);
    EndPaint(hWnd, &ps);
    if (bStart) {
        // Taken and cleared before it runs: a paint that arrives while it runs (it
        // pumps messages) only paints.
        std::function<void()> start = std::move(bStart);
        bStart = nullptr;
        start();
    }
    return EventResult::Logical(false);
}

bool TDialog::End(std::optional<int> result) {
    const int value = result.value_or(2);
    if (!lModal) {
        // The close request is decided when it arrives (Close).
        if (hWnd != nullptr) {
            PostMessageA(hWnd, WM_CLOSE, static_cast<WPARAM>(value), 0);
        }
        SYSREFRESH();
        return true;
    }
    if (bValid && !bValid(*this)) {
        return false;
    }
    nResult = value;
    if (hWnd != nullptr) {
        EndDialog(hWnd, value);
    }
    SYSREFRESH();
    return true;
}

EventResult TDialog::KeyDown(int key, LPARAM flags) {
    if (key == VK_ESCAPE) {
        const bool owner_is_dialog = oWnd == nullptr || dynamic_cast<TDialog*>(oWnd) != nullptr;
        if (owner_is_dialog) {
            if (Framework().dialog_esc) {
                End();
            }
            return EventResult::None();
        }
    }
    return TWindow::KeyDown(key, flags);
}

EventResult TDialog::Command(WPARAM wparam, LPARAM lparam) {
    const int id = LOWORD(wparam);
    const int code = HIWORD(wparam);
    if (lparam == 0) {
        if (id == IDCANCEL) {
            End(IDCANCEL);
            return EventResult::Logical(true);
        }
        if (id == IDOK && code == 0) {
            // Enter handled by the dialog manager moves on instead of ending the dialog.
            const bool back = serial::GETKEYSTATE(VK_SHIFT);
            HWND next = GetNextDlgTabItem(hWnd, GetFocus(), back ? TRUE : FALSE);
            if (next != nullptr) {
                SetFocus(next);
            }
            return EventResult::Logical(true);
        }
        return EventResult::None();
    }
    if (TControl* control = ControlWithId(id)) {
        control->SendMsg(kFwClick, wparam, lparam);
        return EventResult::Logical(true);
    }
    if (id == IDOK) {
        End(IDOK);
        return EventResult::Logical(true);
    }
    return EventResult::None();
}

EventResult TDialog::SysCommand(WPARAM type, LPARAM) {
    if ((type & 0xFFF0) == SC_CLOSE) {
        if (GetCapture() != nullptr) {
            ReleaseCapture();
        }
        return EventResult::Logical(false);
    }
    if ((type & 0xFFF0) == SC_CONTEXTHELP) {
        lHelpIcon = true;
    }
    return EventResult::None();
}

EventResult TDialog::Close(WPARAM result) {
    if (lModal) {
        // A modal dialog leaves WM_CLOSE to the platform, which turns it into IDCANCEL.
        return EventResult::None();
    }
    if (bValid && !bValid(*this)) {
        return EventResult::Number(0);  // refused: nothing happens
    }
    nResult = static_cast<int>(result);
    lVisible = false;
    DestroyWindow(hWnd);
    return EventResult::Number(0);
}

EventResult TDialog::ReSize(WPARAM, int, int) {
    if (oClient != nullptr && oClient->hWnd != nullptr) {
        oClient->AdjClient();
    }
    return EventResult::None();
}

EventResult TDialog::QueryEndSession() {
    // The session may end when the dialog does.
    return EventResult::Number(End() ? TRUE : FALSE);
}

EventResult TDialog::Destroy() {
    if (!lModal) {
        Framework().modeless.Deregister(reinterpret_cast<ModelessList::Handle>(hWnd));
        lVisible = false;
    }
    TWindow::Destroy();
    return EventResult::None();
}

void TDialog::SetControl(TControl& control) {
    oClient = &control;
    if (hWnd != nullptr && control.hWnd != nullptr) {
        control.AdjClient();
    }
}

bool SETDIALOGESC(std::optional<bool> on) {
    bool old = Framework().dialog_esc;
    if (on) {
        Framework().dialog_esc = *on;
    }
    return old;
}

bool SETCENTERONPARENT(std::optional<bool> on) {
    bool old = Framework().center_on_parent;
    if (on) {
        Framework().center_on_parent = *on;
    }
    return old;
}

}  // namespace kestrel::ui
