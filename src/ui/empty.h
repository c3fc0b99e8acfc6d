#pragma once

#include <string_view>

namespace kestrel::ui {

// The framework's EMPTY for a byte string: true when the text is blank by the
// application's blank test (base/blank.h), which the layers below the framework use
// directly.
bool EMPTY(std::string_view text);

// A literal must not slide into some other overload through a pointer conversion.
inline bool EMPTY(const char* text) {
    return text == nullptr || EMPTY(std::string_view{text});
}

}  // namespace kestrel::ui
