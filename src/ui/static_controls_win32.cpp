#include "ui/static_controls_win32.h"

#include <memory>

namespace kestrel::ui {

namespace {

constexpr DWORD kStaticStyle = WS_CHILD | WS_VISIBLE;

void UseButtonFaceColours(TControl& control) {
    control.nClrText = GetSysColor(COLOR_BTNTEXT);
    control.nClrPane = GetSysColor(COLOR_BTNFACE);
}

}  // namespace

Binding FixedText(std::string text) {
    auto value = std::make_shared<std::string>(std::move(text));
    return {.get = [value] { return *value; },
            .set = [value](std::string changed) { *value = std::move(changed); },
            .append = {}};
}

TSay::TSay(const Placement& where, Binding binding, DWORD extra_style) {
    bSetGet = std::move(binding);
    nStyle = kStaticStyle | SS_LEFT | SS_NOPREFIX | extra_style;
    UseButtonFaceColours(*this);
    Place(where);
}

void TSay::Initiate(HWND dialog) {
    TControl::Initiate(dialog);
    Refresh();
}

void TSay::SetText(const std::string& text) {
    VarPut(text);
    Refresh();
}

void TSay::Refresh() {
    if (hWnd != nullptr) {
        SetWindowTextA(hWnd, VarGet().c_str());
    }
}

TIcon::TIcon(const Placement& where, int system_icon) : system_icon_(system_icon) {
    nStyle = kStaticStyle | SS_ICON;
    UseButtonFaceColours(*this);
    Place(where);
}

void TIcon::Initiate(HWND dialog) {
    TControl::Initiate(dialog);
    if (hWnd != nullptr) {
        // The platform's own icons are shared: loaded, never destroyed.
        HICON icon = LoadIconA(nullptr, MAKEINTRESOURCEA(system_icon_));
        SendMsg(STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    }
}

TBitmap::TBitmap(const Placement& where, std::string resource) : resource_(std::move(resource)) {
    nStyle = kStaticStyle | SS_BITMAP;
    UseButtonFaceColours(*this);
    Place(where);
}

void TBitmap::Initiate(HWND dialog) {
    TControl::Initiate(dialog);
    if (hWnd == nullptr) {
        return;
    }
    bitmap_.Reset(LoadBitmapA(GetModuleHandleA(nullptr), resource_.c_str()));
    if (bitmap_.get() != nullptr) {
        SendMsg(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap_.get()));
    }
}

}  // namespace kestrel::ui
