#include "ui/edit_text.h"

#include <algorithm>

namespace kestrel::ui {

std::string DisplayableText(std::string text) {
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text;
}

}  // namespace kestrel::ui
