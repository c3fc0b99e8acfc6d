#pragma once

#include <functional>

namespace kestrel::ui {

class TWindow;

// A handler of the runtime's key table: run with the key (a virtual-key code) and
// the window the key was pressed in.
using KeyHandler = std::function<void(int nKey, TWindow& window)>;

// SETKEY: the handler bound to a key, or none.
KeyHandler SETKEY(int key);

// SETKEY with a handler: binds it to the key (an empty handler unbinds the key) and
// returns the handler bound before.
KeyHandler SETKEY(int key, KeyHandler handler);

}  // namespace kestrel::ui
