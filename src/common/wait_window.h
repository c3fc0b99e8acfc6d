#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::common {

// The please-wait window: at most one is open at a time. POPMSG without a message
// kind opens it, updates it and closes it; every message box closes it first.
// This is what POPMSG needs of an open window; the window itself (TMsgBox) is
// platform code.
class WaitBox {
  public:
    virtual ~WaitBox() = default;
    // Enables the window that was active before again and closes the box.
    virtual void End() = 0;
    // Shows `text` as the box's message.
    virtual void SetMsg(const std::string& text) = 0;
    // Moves the progress bar (a box without one ignores it).
    virtual void SetPos(int position) = 0;
    // Shows `page` as the page being printed (the printing variant).
    virtual void SetPag(int page) = 0;

    int nPag = 1;  // the next page the printing variant counts
};

// What a POPMSG call without a kind asks of the wait window, beside its text and
// title.
struct WaitRequest {
    bool lSetMsg = false;     // replace the open window's message
    std::optional<int> nMin;  // a progress range: the new window gets a progress bar
    std::optional<int> nMax;
    std::optional<int> nPos;  // move the open window's progress bar
    bool lPrint = false;      // the printing variant, with its page counter
    bool lPag = false;        // count the next page
};

// Closes the open wait window, if any, and forgets it; CURMSG answers nothing again.
void CloseOpenWaitWindow();

// The text of the open wait window, or nothing when none is open.
std::optional<std::string> CURMSG();

// --- How the text variant sizes itself -----------------------------------------

// A blank message (empty, or only blanks, tabs, line feeds and carriage returns)
// counts as one line and as the empty current text.
bool IsBlankText(std::string_view text);

// The lines of a message as the box lays them out: broken at CR LF (or LF), lines
// longer than 79 columns wrapped at the last blank that fits, or at 79 columns when
// none does; each right-trimmed.
std::vector<std::string> WaitTextLines(std::string_view text);

struct WaitBoxRect {
    int top = 0;
    int left = 0;
    int width = 0;
    int height = 0;
};

// The window's size and its controls' places, in pixels.
struct WaitLayout {
    int width = 0;
    int height = 0;
    WaitBoxRect text;
    std::optional<WaitBoxRect> progress;
};

// The narrowest text measure a box is given, so that a box for a short, empty or
// blank message still shows its icon, its title and its progress bar.
inline constexpr int kMinWaitTextWidth = 150;

// Lays out the box for a message `measured_width` pixels wide in `lines` lines, in a
// font `char_height` pixels high whose lines take `line_height` pixels, with or
// without a progress bar: width = measure + 110, height = (lines + 5) x char
// height; the text from 20, 65; the progress bar 60 pixels above the bottom. The
// text line is never lower than its lines need.
WaitLayout LayOutWaitBox(int measured_width, int lines, int char_height, int line_height,
                         bool progress);

// The width a blank message is measured at: its length less 100 pixels.
int BlankTextWidth(std::string_view text);

// The progress position to set for `position`: one more on the platform version
// 6.0, whose progress bars draw one step behind.
int ProgressPositionFor(int position, int major_version, int minor_version);

}  // namespace kestrel::common
