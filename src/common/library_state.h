#pragma once

namespace kestrel::common {

// All module-wide state of the common library, in one place. Used on the window
// thread only.
struct LibraryState {
    // True exactly while a dialog's close request is being decided (__VALID): a
    // second request that arrives meanwhile, through the message loop of a box the
    // first one shows, is refused.
    bool validating = false;
};

LibraryState& Library();

}  // namespace kestrel::common
