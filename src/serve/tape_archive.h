#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

namespace kestrel::serve {

// A tape taken out of a zip archive: the member's path in the archive and its bytes.
struct ArchiveMember {
    std::string name;
    std::string bytes;
};

// Why no tape comes out of an archive, one line without the archive's own name.
struct ArchiveRefusal {
    std::string message;
};

// No tape is anywhere near this size; a bigger member is refused before it is read
// whole, so that an archive cannot make the server take all the memory there is.
inline constexpr std::size_t kMaxMemberSize = std::size_t{16} << 20;

// A zip archive begins with a local file header ("PK\3\4") or, empty, with the end of
// its central directory ("PK\5\6"); a file named *.zip is taken for one too, so that
// a damaged one is refused rather than served as a TAP file.
bool IsZipArchive(std::string_view bytes, std::string_view path);

// The tape in a zip archive read from memory: with `member` empty, the one .tap or
// .tzx file inside (the letter case of the extension does not matter; macOS's
// "__MACOSX/" shadows are not tapes); otherwise the member whose path or file name
// is `member`. A damaged archive, no tape or several, a member not found or bigger
// than `max_size` are refused.
std::variant<ArchiveMember, ArchiveRefusal> TapeFromZip(std::string_view archive,
                                                        std::string_view member,
                                                        std::size_t max_size = kMaxMemberSize);

}  // namespace kestrel::serve
