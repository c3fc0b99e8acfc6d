#include "ui/empty.h"

#include <algorithm>

namespace kestrel::ui {

bool EMPTY(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return IsBlankByte(static_cast<unsigned char>(c)); });
}

}  // namespace kestrel::ui
