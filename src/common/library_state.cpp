#include "common/library_state.h"

namespace kestrel::common {

LibraryState& Library() {
    static LibraryState state;
    return state;
}

}  // namespace kestrel::common
