// The runtime's key table: one process-wide map from a key to the handler that a
// window runs instead of handling the key itself (the default key handling of
// windows and controls). The handler bound to F1 is also the program's help (see
// TWindow::Help). Used on the window thread only.
#include "ui/key_table.h"

#include <map>
#include <utility>

namespace kestrel::ui {

namespace {

std::map<int, KeyHandler>& Table() {
    static std::map<int, KeyHandler> table;
    return table;
}

}  // namespace

KeyHandler SETKEY(int key) {
    auto found = Table().find(key);
    return found == Table().end() ? KeyHandler() : found->second;
}

KeyHandler SETKEY(int key, KeyHandler handler) {
    KeyHandler previous = SETKEY(key);
    if (handler) {
        Table()[key] = std::move(handler);
    } else {
        Table().erase(key);
    }
    return previous;
}

}  // namespace kestrel::ui
