#include "ui/empty.h"

#include "base/blank.h"

namespace kestrel::ui {

bool EMPTY(std::string_view text) {
    return base::IsBlank(text);
}

}  // namespace kestrel::ui
