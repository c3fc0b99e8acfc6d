#include "common/popmsg.h"

#include "common/library_state.h"

namespace kestrel::common {

namespace {

// The platform's message-box style bits.
constexpr unsigned kBoxOk = 0x0;
constexpr unsigned kBoxOkCancel = 0x1;
constexpr unsigned kBoxYesNoCancel = 0x3;
constexpr unsigned kBoxYesNo = 0x4;
constexpr unsigned kIconStop = 0x10;
constexpr unsigned kIconQuestion = 0x20;
constexpr unsigned kIconInformation = 0x40;
constexpr unsigned kDefaultSecondButton = 0x100;

PopAnswer AnswerOf(int kind, int button) {
    switch (kind) {
        case kPopInformation:
            return std::monostate{};
        case kPopYesNoCancel:
            return button;
        case kPopOkCancel:
        case kPopStopOkCancel:
            return button == kButtonOk;
        default:  // the yes/no kinds
            return button == kButtonYes;
    }
}

void WaitOperation(PopupServices& services, const std::optional<std::string>& text,
                   std::optional<std::string_view> title, const WaitRequest& wait) {
    LibraryState& library = Library();
    if (!text && !wait.lPrint && !wait.lPag) {
        services.CloseWaitWindow();
        return;
    }
    const std::string message = text.value_or("");
    if (!library.wait_window) {
        library.wait_window = services.OpenWaitBox(message, title, wait);
        if (library.wait_window && !wait.lPrint) {
            library.wait_text = IsBlankText(message) ? std::string() : message;
        }
        return;
    }
    WaitBox& box = *library.wait_window;
    if (wait.lSetMsg || wait.nPos) {
        if (wait.lSetMsg) {
            box.SetMsg(message);
            library.wait_text = message;
        }
        if (wait.nPos) {
            box.SetPos(services.ProgressPosition(*wait.nPos));
        }
        return;
    }
    if (wait.lPag) {
        box.SetPag(box.nPag);
        ++box.nPag;
    }
}

}  // namespace

std::optional<PopStyle> PopStyleOf(int kind) {
    switch (kind) {
        case kPopInformation:
            return PopStyle{kBoxOk | kIconInformation, false};  // 64
        case kPopOkCancel:
            return PopStyle{kBoxOkCancel | kIconQuestion, true};  // 33
        case kPopYesNoCancel:
            return PopStyle{kBoxYesNoCancel | kIconQuestion, true};  // 35
        case kPopYesNo:
            return PopStyle{kBoxYesNo | kIconQuestion, true};  // 36
        case kPopYesNoDefaultNo:
            return PopStyle{kBoxYesNo | kIconQuestion | kDefaultSecondButton, true};  // 292
        case kPopStopOkCancel:
            return PopStyle{kBoxOkCancel | kIconStop, true};  // 17
        default:
            return std::nullopt;
    }
}

PopAnswer PopMessage(PopupServices& services, std::optional<std::string_view> text,
                     std::optional<int> kind, std::optional<std::string_view> title,
                     const WaitRequest& wait) {
    std::optional<std::string> prepared;
    if (text) {
        prepared = PrepareMessageText(
            *text, [&services](std::string_view oem) { return services.OemToAnsi(oem); });
    }
    PopAnswer answer;
    if (!kind) {
        WaitOperation(services, prepared, title, wait);
        services.Refresh();
        return answer;
    }
    services.CloseWaitWindow();
    if (std::optional<PopStyle> style = PopStyleOf(*kind)) {
        if (style->tone) {
            services.Tone();
        }
        int button = services.ShowMessageBox(
            prepared.value_or(""), std::string(title.value_or(kPopDefaultTitle)), style->box_style);
        answer = AnswerOf(*kind, button);
    }
    services.Refresh();
    return answer;
}

}  // namespace kestrel::common
