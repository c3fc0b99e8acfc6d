#include "app/tape_file.h"

#include "base/ascii_case.h"
#include "base/whole_file.h"

namespace kestrel::app {

TapeLoad LoadTapeFile(const std::string& path) {
    // Read with a final 1Ah kept: in a TZX file it is content (a checksum, a length).
    std::optional<std::string> bytes = base::ReadWholeFile(path);
    if (!bytes) {
        return {.image = {}, .refusal = std::nullopt, .readable = false};
    }
    return LoadTapeBytes(std::move(*bytes), path);
}

TapeLoad LoadTapeBytes(std::string bytes, std::string_view name) {
    if (!bytes.empty() && (IsTzx(bytes) || base::UpperAscii(name).ends_with(".TZX"))) {
        return TzxToTap(bytes);
    }
    return {base::DropEndOfFileMark(std::move(bytes)), std::nullopt};
}

}  // namespace kestrel::app
