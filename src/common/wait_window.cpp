#include "common/wait_window.h"

#include <algorithm>

#include "common/library_state.h"
#include "base/blank.h"

namespace kestrel::common {

namespace {

constexpr std::size_t kWrapColumns = 79;

std::string RightTrimmed(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

void WrapLine(std::string_view line, std::vector<std::string>& lines) {
    while (line.size() > kWrapColumns) {
        std::size_t cut = line.substr(0, kWrapColumns + 1).rfind(' ');
        if (cut == std::string_view::npos || cut == 0) {
            cut = kWrapColumns;
        }
        lines.push_back(RightTrimmed(line.substr(0, cut)));
        line.remove_prefix(cut);
        while (!line.empty() && line.front() == ' ') {
            line.remove_prefix(1);
        }
    }
    lines.push_back(RightTrimmed(line));
}

}  // namespace

void CloseOpenWaitWindow() {
    LibraryState& library = Library();
    std::unique_ptr<WaitBox> box = std::move(library.wait_window);
    library.wait_text.reset();
    if (box) {
        box->End();
    }
}

std::optional<std::string> CURMSG() {
    return Library().wait_text;
}

bool IsBlankText(std::string_view text) {
    return base::IsBlank(text);
}

std::vector<std::string> WaitTextLines(std::string_view text) {
    std::vector<std::string> lines;
    while (true) {
        const std::size_t end = text.find('\n');
        WrapLine(text.substr(0, end), lines);
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return lines;
}

// The box's numbers, in pixels: the icon takes the first 65 of the width, so the text
// starts at x 65 (y 20, below the top margin) and is 90 narrower than the box (65 for
// the icon column, 25 for the right margin and the frame); 110 of width is that plus
// the frame's share on the left. Five character heights above the text lines hold
// the caption bar, the top margin and the bottom margin; the text area's height is
// what is left of the box after them (80). The bar sits 60 above the bottom edge
// (the frame and a margin under it), 15 in from the left and 20 from the right.
WaitLayout LayOutWaitBox(int measured_width, int lines, int char_height, int line_height,
                         bool progress) {
    if (progress) {
        ++lines;
        measured_width += 5;
    }
    const int text_lines = progress ? lines - 1 : lines;
    WaitLayout layout;
    layout.width = std::max(measured_width, kMinWaitTextWidth) + 110;
    layout.height = (lines + 5) * char_height;
    layout.text = {20, 65, layout.width - 90,
                   std::max(layout.height - 80, text_lines * line_height)};
    if (progress) {
        layout.progress = WaitBoxRect{layout.height - 60, 15, layout.width - 35, 20};
    }
    return layout;
}

int BlankTextWidth(std::string_view text) {
    return static_cast<int>(text.size()) - 100;
}

int ProgressPositionFor(int position, int major_version, int minor_version) {
    return major_version == 6 && minor_version == 0 ? position + 1 : position;
}

}  // namespace kestrel::common
