#include "serve/tape_archive.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <optional>
#include <vector>

#include "base/ascii_case.h"

namespace kestrel::serve {
namespace {

using ArchiveReader = std::unique_ptr<archive, decltype(&archive_read_free)>;

std::string_view FileName(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool IsTapeName(std::string_view path) {
    const std::string upper = base::UpperAscii(path);
    return (upper.ends_with(".TAP") || upper.ends_with(".TZX")) &&
           !upper.starts_with("__MACOSX/") && !FileName(path).starts_with("._");
}

std::string Why(archive* reader) {
    const char* text = archive_error_string(reader);
    return text != nullptr ? text : "no reason given";
}

std::string Listed(const std::vector<std::string>& names) {
    std::string listed;
    for (const std::string& name : names) {
        listed += (listed.empty() ? "" : ", ") + name;
    }
    return listed;
}

std::string SizeWords(std::size_t max_size) {
    return max_size % (std::size_t{1} << 20) == 0 ? std::to_string(max_size >> 20) + " MiB"
                                                  : std::to_string(max_size) + " bytes";
}

// The current member's bytes, read in pieces so that a size the archive does not
// state (or states wrongly) cannot take more than `max_size` of memory.
std::variant<std::string, ArchiveRefusal> ReadMember(archive* reader, archive_entry* entry,
                                                     const std::string& name,
                                                     std::size_t max_size) {
    const std::string too_big =
        name + " is bigger than a tape may be (" + SizeWords(max_size) + ")";
    if (archive_entry_size_is_set(entry) != 0 &&
        static_cast<std::size_t>(archive_entry_size(entry)) > max_size) {
        return ArchiveRefusal{too_big};
    }
    std::string bytes;
    char piece[65536];
    for (;;) {
        const la_ssize_t got = archive_read_data(reader, piece, sizeof piece);
        if (got < 0) {
            return ArchiveRefusal{"cannot read " + name + " in the archive: " + Why(reader)};
        }
        if (got == 0) {
            return bytes;
        }
        if (bytes.size() + static_cast<std::size_t>(got) > max_size) {
            return ArchiveRefusal{too_big};
        }
        bytes.append(piece, static_cast<std::size_t>(got));
    }
}

}  // namespace

bool IsZipArchive(std::string_view bytes, std::string_view path) {
    return bytes.starts_with("PK\x03\x04") || bytes.starts_with("PK\x05\x06") ||
           base::UpperAscii(path).ends_with(".ZIP");
}

std::variant<ArchiveMember, ArchiveRefusal> TapeFromZip(std::string_view archive_bytes,
                                                        std::string_view member,
                                                        std::size_t max_size) {
    ArchiveReader reader(archive_read_new(), &archive_read_free);
    if (!reader) {
        return ArchiveRefusal{"cannot set up the archive reader"};
    }
    archive_read_support_format_zip(reader.get());
    if (archive_read_open_memory(reader.get(), archive_bytes.data(), archive_bytes.size()) !=
        ARCHIVE_OK) {
        return ArchiveRefusal{"not a readable zip archive: " + Why(reader.get())};
    }

    std::vector<std::string> tapes;  // the .tap and .tzx members, in the archive's order
    std::optional<ArchiveMember> chosen;
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF) {
            break;
        }
        if (status < ARCHIVE_WARN) {
            return ArchiveRefusal{"damaged zip archive: " + Why(reader.get())};
        }
        const char* path = archive_entry_pathname(entry);
        if (path == nullptr || archive_entry_filetype(entry) != AE_IFREG) {
            continue;
        }
        const std::string name = path;
        if (IsTapeName(name)) {
            tapes.push_back(name);
        }
        const bool wanted = member.empty() ? IsTapeName(name) && tapes.size() == 1
                                           : name == member || FileName(name) == member;
        if (!wanted || chosen) {
            continue;
        }
        auto read = ReadMember(reader.get(), entry, name, max_size);
        if (auto* refusal = std::get_if<ArchiveRefusal>(&read)) {
            return *refusal;
        }
        chosen = ArchiveMember{name, std::move(std::get<std::string>(read))};
    }

    if (!member.empty() && !chosen) {
        return ArchiveRefusal{"no member " + std::string(member) + " in the archive" +
                              (tapes.empty() ? "" : " (its tapes: " + Listed(tapes) + ")")};
    }
    if (member.empty() && tapes.empty()) {
        return ArchiveRefusal{"no .tap or .tzx file in the archive"};
    }
    if (member.empty() && tapes.size() > 1) {
        return ArchiveRefusal{"several tapes in the archive (" + Listed(tapes) +
                              "): choose one with --member NAME"};
    }
    return std::move(*chosen);
}

}  // namespace kestrel::serve
