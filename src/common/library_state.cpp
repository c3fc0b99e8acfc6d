#include "common/library_state.h"

namespace kestrel::common {

LibraryState& Library() {
    static LibraryState state;
    return state;
}

void ResetLibrary() {
    Library() = LibraryState{};
}

}  // namespace kestrel::common
