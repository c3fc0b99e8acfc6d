#include "ui/memoread.h"

#include "base/whole_file.h"

namespace kestrel::ui {

std::string MEMOREAD(const std::string& path) {
    return MemoreadUpTo(path, base::kWholeFileMaxBytes);
}

std::string MemoreadUpTo(const std::string& path, std::uint64_t max_bytes) {
    return base::ReadWholeFile(path, base::EndOfFileMark::kDrop, max_bytes).value_or("");
}

}  // namespace kestrel::ui
