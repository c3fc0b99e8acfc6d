#include "common/wait_window_win32.h"

#include <algorithm>
#include <cstdint>
#include <functional>

#include "common/dialog_valid_win32.h"
#include "serial/key_state.h"
#include "ui/button_win32.h"
#include "ui/message_pump.h"
#include "ui/static_controls_win32.h"

namespace kestrel::common {

namespace {

// The platform's exclamation icon (IDI_EXCLAMATION).
const int kExclamationIcon = static_cast<int>(reinterpret_cast<std::uintptr_t>(IDI_EXCLAMATION));
constexpr int kFontCharHeight = 15;  // Arial, height -15
constexpr std::string_view kWaitTitle = "Attendere";

// The printing variant's dialog resource and its items.
constexpr const char* kPrintDialog = "PRINTDLG";
constexpr int kPrintPicture = 101;
constexpr int kPrintPageNumber = 102;
constexpr int kPrintCancel = 201;
constexpr int kPrintShrink = 33;  // the height cut off with the hidden button

// The widest of the lines in the screen's current font, in pixels.
int MeasuredWidth(const std::vector<std::string>& lines) {
    HDC screen = GetDC(nullptr);
    int widest = 0;
    for (const std::string& line : lines) {
        SIZE size{};
        GetTextExtentPoint32A(screen, line.c_str(), static_cast<int>(line.size()), &size);
        widest = std::max(widest, static_cast<int>(size.cx));
    }
    ReleaseDC(nullptr, screen);
    return widest;
}

// The pixels one line of `font` takes.
int LineHeight(HFONT font) {
    HDC screen = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(screen, font);
    TEXTMETRICA metrics{};
    GetTextMetricsA(screen, &metrics);
    SelectObject(screen, previous);
    ReleaseDC(nullptr, screen);
    return std::max(kFontCharHeight,
                    static_cast<int>(metrics.tmHeight + metrics.tmExternalLeading));
}

void Move(const ui::TControl* control, const WaitBoxRect& box) {
    if (control != nullptr && control->hWnd != nullptr) {
        MoveWindow(control->hWnd, box.left, box.top, box.width, box.height, TRUE);
    }
}

void Resize(HWND window, int width, int height) {
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Neither Esc nor F4 (Alt+F4) may close the box while held down.
bool NotWhileEscOrF4IsDown(ui::TDialog&) {
    return !serial::GETKEYSTATE(VK_ESCAPE) && !serial::GETKEYSTATE(VK_F4);
}

// The box's dialog: it edits nothing and offers no help.
std::unique_ptr<ui::TDialog> BoxDialog(const ui::DialogOptions& options) {
    auto dialog = std::make_unique<ui::TDialog>(options);
    dialog->lModify = false;
    dialog->lHelpIcon = false;
    return dialog;
}

// The box's modeless run: the library's validation until the window exists; then
// `shape` sizes it, the key rule replaces the validation and the box is centred.
ui::ActivateOptions BoxRun(bool centered, std::function<void(ui::TDialog&)> shape) {
    ui::ActivateOptions run;
    run.modal = false;
    run.centered = centered;
    run.valid = [](ui::TDialog& d) { return VALID(d, false); };
    run.init = [shape = std::move(shape)](ui::TDialog& d) {
        shape(d);
        d.bValid = NotWhileEscOrF4IsDown;
        ui::WNDCENTER(d.hWnd, nullptr);
        return true;
    };
    return run;
}

}  // namespace

std::unique_ptr<TMsgBox> TMsgBox::New(const std::string& text,
                                      std::optional<std::string_view> title,
                                      std::optional<int> minimum, std::optional<int> maximum,
                                      bool print) {
    std::unique_ptr<TMsgBox> box(new TMsgBox());
    if (print) {
        box->OpenPrinting();
    } else {
        box->OpenText(text, title.value_or(kWaitTitle), minimum, maximum);
    }
    return box;
}

TMsgBox::~TMsgBox() {
    End();
}

void TMsgBox::OpenText(const std::string& text, std::string_view title, std::optional<int> minimum,
                       std::optional<int> maximum) {
    int lines = 1;
    int measured = BlankTextWidth(text);
    if (!IsBlankText(text)) {
        const std::vector<std::string> layout_lines = WaitTextLines(text);
        lines = static_cast<int>(layout_lines.size());
        measured = MeasuredWidth(layout_lines);
    }
    behind_ = GetActiveWindow();
    font_.Reset(CreateFontA(-kFontCharHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                            DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Arial"));

    ui::DialogOptions options;
    options.caption = std::string(title);
    options.style = WS_POPUP | WS_CAPTION | DS_MODALFRAME;
    dialog_ = BoxDialog(options);
    dialog_->oCursor = LoadCursorA(nullptr, IDC_WAIT);

    // The icon at row 0.5, column 1; the text line at 0, 0 until the box is sized.
    ui::TDialog* owner = dialog_.get();
    controls_.push_back(
        std::make_unique<ui::TIcon>(ui::Placement::Box(owner, 7, 7, 32, 32), kExclamationIcon));
    auto text_line =
        std::make_unique<ui::TSay>(ui::Placement::Box(owner, 0, 0, 100, 20), ui::FixedText(text));
    HFONT font = font_.get();
    text_line->bInit = [font](ui::TControl& control) {
        control.SendMsg(WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    };
    controls_.push_back(std::move(text_line));
    if (minimum) {
        auto progress = std::make_unique<ui::TProgress>(ui::Placement::Box(owner, 0, 0, 100, 20));
        progress_ = progress.get();
        controls_.push_back(std::move(progress));
    }

    const WaitLayout layout =
        LayOutWaitBox(measured, lines, kFontCharHeight, LineHeight(font), minimum.has_value());
    dialog_->Activate(BoxRun(false, [this, layout, minimum, maximum](ui::TDialog& d) {
        Resize(d.hWnd, layout.width, layout.height);
        Move(controls_[1].get(), layout.text);
        if (progress_ != nullptr && layout.progress) {
            Move(progress_, *layout.progress);
            progress_->SetRange(*minimum, maximum.value_or(*minimum));
        }
    }));
    Shown();
}

void TMsgBox::OpenPrinting() {
    nPag = 1;
    behind_ = GetActiveWindow();
    ui::DialogOptions options;
    options.caption = std::string(kWaitTitle);
    options.resource_name = kPrintDialog;
    dialog_ = BoxDialog(options);
    ui::TDialog* owner = dialog_.get();
    controls_.push_back(
        std::make_unique<ui::TBitmap>(ui::Placement::Item(owner, kPrintPicture), "PRINT"));
    controls_.push_back(std::make_unique<ui::TSay>(ui::Placement::Item(owner, kPrintPageNumber),
                                                   ui::FixedText("")));
    controls_.push_back(std::make_unique<ui::TButton>(ui::Placement::Item(owner, kPrintCancel),
                                                      "&Annulla", nullptr));

    dialog_->Activate(BoxRun(true, [](ui::TDialog& d) {
        RECT outer{};
        GetWindowRect(d.hWnd, &outer);
        Resize(d.hWnd, outer.right - outer.left, outer.bottom - outer.top - kPrintShrink);
        ShowWindow(GetDlgItem(d.hWnd, kPrintCancel), SW_HIDE);  // the user cannot cancel
    }));
    Shown();
}

void TMsgBox::Shown() {
    open_ = true;
    if (dialog_->hWnd == nullptr) {
        behind_ = nullptr;  // no box came up: the window behind stays usable
        return;
    }
    if (behind_ != nullptr) {
        EnableWindow(behind_, FALSE);
    }
    ui::SYSREFRESH();
    if (controls_.size() > 1 && controls_[1]->hWnd != nullptr) {
        InvalidateRect(controls_[1]->hWnd, nullptr, TRUE);
        UpdateWindow(controls_[1]->hWnd);
    }
}

void TMsgBox::End() {
    if (!open_) {
        return;
    }
    open_ = false;
    if (behind_ != nullptr) {
        EnableWindow(behind_, TRUE);
    }
    if (dialog_) {
        dialog_->bValid = nullptr;
        dialog_->End();
    }
    dialog_.reset();  // a window the close request did not reach goes now
}

void TMsgBox::SetSecondControlText(const std::string& text) {
    if (controls_.size() > 1) {
        if (auto* say = dynamic_cast<ui::TSay*>(controls_[1].get())) {
            say->SetText(text);
        }
    }
}

void TMsgBox::SetMsg(const std::string& text) {
    SetSecondControlText(text);
}

void TMsgBox::SetPos(int position) {
    if (progress_ != nullptr) {
        progress_->SetPos(position);
    }
}

void TMsgBox::SetPag(int page) {
    SetSecondControlText(std::to_string(page));
}

}  // namespace kestrel::common
