#include "common/oem_text_win32.h"

#include <windows.h>

namespace kestrel::common {

std::string OemToAnsi(std::string_view text) {
    std::string ansi(text);
    if (!ansi.empty()) {
        // The buffer form converts every byte, also those after a zero byte.
        OemToCharBuffA(ansi.data(), ansi.data(), static_cast<DWORD>(ansi.size()));
    }
    return ansi;
}

}  // namespace kestrel::common
