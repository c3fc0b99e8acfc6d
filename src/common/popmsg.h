#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "common/wait_window.h"

namespace kestrel::common {

// POPMSG: the common library's one way of telling the operator something: a
// standard modal message box of one of six kinds, or, called without a kind, the
// please-wait window (wait_window.h), which it opens, updates and closes.

inline constexpr std::string_view kPopDefaultTitle = "Attenzione";

// The six kinds, by the numbers callers pass.
enum PopKind : int {
    kPopInformation = 1,     // OK, information icon; answers nothing
    kPopOkCancel = 2,        // OK and Cancel, question icon; true for OK
    kPopYesNoCancel = 3,     // Yes, No and Cancel, question icon; the button code
    kPopYesNo = 4,           // Yes and No, question icon; true for Yes
    kPopYesNoDefaultNo = 5,  // as 4 with No as the default button
    kPopStopOkCancel = 6,    // OK and Cancel, stop icon; true for OK
};

// The platform's button codes, which kind 3 answers as they are.
inline constexpr int kButtonOk = 1;
inline constexpr int kButtonCancel = 2;
inline constexpr int kButtonYes = 6;
inline constexpr int kButtonNo = 7;

// What POPMSG answers: nothing (kind 1, and any number that is not a kind), a
// logical (kinds 2, 4, 5 and 6) or a raw button code (kind 3).
using PopAnswer = std::variant<std::monostate, bool, int>;

// The platform's message-box style of a kind (icon, buttons, default button), and
// whether the tone sounds first; nothing for a number that is not a kind.
struct PopStyle {
    unsigned box_style;
    bool tone;
};
std::optional<PopStyle> PopStyleOf(int kind);

// A message as the box shows it. A text holding any byte from 129 to 168 is taken
// to be in the OEM code page and converted whole by `oem_to_ansi`; then every ";"
// becomes CR LF, so ";" is the line separator of every message and ";;" makes an
// empty line.
template <typename OemToAnsi>
std::string PrepareMessageText(std::string_view text, OemToAnsi&& oem_to_ansi);

// What a message box needs of the platform and of the rest of the library.
class PopupServices {
  public:
    virtual ~PopupServices() = default;
    // The text converted from the OEM to the ANSI code page.
    virtual std::string OemToAnsi(std::string_view text) = 0;
    // Closes the open please-wait window, if any (CloseOpenWaitWindow), so that a
    // box never stands behind it. Called for every kind number, shown or not.
    virtual void CloseWaitWindow() = 0;
    // Opens a please-wait window showing `text` (the printing variant when
    // `request.lPrint`), with a progress bar when `request.nMin` is given.
    virtual std::unique_ptr<WaitBox> OpenWaitBox(const std::string& text,
                                                 std::optional<std::string_view> title,
                                                 const WaitRequest& request) = 0;
    // The progress bar position to set for `position` on this platform version.
    virtual int ProgressPosition(int position) = 0;
    // The warning tone: 880 Hz for one tick of 1/18.2 s (about 55 ms).
    virtual void Tone() = 0;
    // Shows the modal box, owned by the window active at the call, and answers the
    // code of the button pressed (0 when the platform could not show it).
    virtual int ShowMessageBox(const std::string& text, const std::string& title,
                               unsigned box_style) = 0;
    // Handles the window messages pending at the end of the call (SYSREFRESH).
    virtual void Refresh() = 0;
};

// POPMSG over any services. With a kind: prepare the text, close the wait window,
// sound the tone, show the box, handle pending messages, answer. Without one, the
// wait window operation that the request and the window's state select:
//   - no text and neither lPrint nor lPag: close the open window;
//   - no window open: open one (CURMSG: its text, "" for a blank one);
//   - lSetMsg or nPos: show the text (CURMSG follows it), move the progress bar;
//   - lPag: show the page counter and count on;
//   - otherwise nothing.
PopAnswer PopMessage(PopupServices& services, std::optional<std::string_view> text,
                     std::optional<int> kind, std::optional<std::string_view> title,
                     const WaitRequest& wait = {});

// POPMSG over the platform (popmsg_win32.cpp). `text` and `title` are ANSI byte
// strings; `title` defaults to "Attenzione" for a box, "Attendere" for the wait
// window. Call on the user-interface thread.
PopAnswer POPMSG(std::optional<std::string_view> text, std::optional<int> kind,
                 std::optional<std::string_view> title = std::nullopt,
                 const WaitRequest& wait = {});

// The kinds with their answers typed.
inline void PopInformation(std::string_view text,
                           std::optional<std::string_view> title = std::nullopt) {
    POPMSG(text, kPopInformation, title);
}
inline bool PopOkCancel(std::string_view text,
                        std::optional<std::string_view> title = std::nullopt) {
    return std::get<bool>(POPMSG(text, kPopOkCancel, title));
}
inline int PopYesNoCancel(std::string_view text,
                          std::optional<std::string_view> title = std::nullopt) {
    return std::get<int>(POPMSG(text, kPopYesNoCancel, title));
}
inline bool PopYesNo(std::string_view text, std::optional<std::string_view> title = std::nullopt) {
    return std::get<bool>(POPMSG(text, kPopYesNo, title));
}
inline bool PopYesNoDefaultNo(std::string_view text,
                              std::optional<std::string_view> title = std::nullopt) {
    return std::get<bool>(POPMSG(text, kPopYesNoDefaultNo, title));
}
inline bool PopStopOkCancel(std::string_view text,
                            std::optional<std::string_view> title = std::nullopt) {
    return std::get<bool>(POPMSG(text, kPopStopOkCancel, title));
}

template <typename OemToAnsi>
std::string PrepareMessageText(std::string_view text, OemToAnsi&& oem_to_ansi) {
    bool oem = false;
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        oem = oem || (byte >= 129 && byte <= 168);
    }
    std::string ansi = oem ? std::string(oem_to_ansi(text)) : std::string(text);
    std::string prepared;
    prepared.reserve(ansi.size());
    for (char c : ansi) {
        if (c == ';') {
            prepared += "\r\n";
        } else {
            prepared += c;
        }
    }
    return prepared;
}

}  // namespace kestrel::common
