#include "serve/serve_tape.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <variant>

#include "app/tape_file.h"
#include "base/whole_file.h"
#include "serve/tape_archive.h"
#include "serve/tape_catalog.h"

namespace kestrel::serve {
namespace {

// Past this many entries with a warning, one line counts the rest (--list has them).
constexpr std::size_t kWarnedEntries = 8;

TapeFile Refused(std::string message) {
    TapeFile file;
    file.status = TapeFile::Status::kRefused;
    file.message = std::move(message);
    return file;
}

std::string Counted(std::size_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string TotalLine(const TapeCatalog& catalog) {
    std::size_t data_bytes = 0;
    for (const CatalogEntry& entry : catalog.entries) {
        data_bytes += entry.length;
    }
    std::string total = Counted(catalog.entries.size(), "entry", "entries") + ", " +
                        Counted(data_bytes, "data byte", "data bytes") + "; ";
    const std::size_t bad = catalog.CountWith(BlockCheck::kBad);
    const std::size_t cut = catalog.CountWith(BlockCheck::kShort);
    const std::size_t problems = catalog.CountWithProblems();
    if (bad + cut + problems == 0) {
        return total + "all ok";
    }
    std::string faults;
    const auto add = [&](std::size_t count, const std::string& words) {
        if (count != 0) {
            faults += (faults.empty() ? "" : ", ") + words;
        }
    };
    add(bad, std::to_string(bad) + " bad");
    add(cut, std::to_string(cut) + " short");
    add(problems, Counted(problems, "structure problem", "structure problems"));
    return total + faults;
}

}  // namespace

TapeFile ReadTapeFile(const std::string& path, const std::string& member) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        TapeFile file;
        file.status = TapeFile::Status::kUnreadable;
        file.message = path + " is a directory, not a tape file";
        return file;
    }
    errno = 0;  // the failing call, if any, says why
    std::optional<std::string> bytes = base::ReadWholeFile(path);
    if (!bytes) {
        // The Windows tool serves an unreadable file as an empty tape; a command-line
        // tool says so instead.
        TapeFile file;
        file.status = TapeFile::Status::kUnreadable;
        file.message = "cannot read the tape " + path +
                       (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
        return file;
    }
    std::string label = path;
    std::string name = path;  // the name the loader judges the bytes by
    if (IsZipArchive(*bytes, path)) {
        auto taken = TapeFromZip(*bytes, member);
        if (const auto* refusal = std::get_if<ArchiveRefusal>(&taken)) {
            return Refused(path + ": " + refusal->message);
        }
        ArchiveMember& tape = std::get<ArchiveMember>(taken);
        label = path + ": " + tape.name;
        name = std::move(tape.name);
        *bytes = std::move(tape.bytes);
    } else if (!member.empty()) {
        return Refused(path + " is not a zip archive, so it has no member " + member);
    }

    const bool empty = bytes->empty();
    app::TapeLoad load = app::LoadTapeBytes(std::move(*bytes), name);
    if (load.refusal) {
        return Refused(label + ": " + app::DescribeRefusal(*load.refusal));
    }
    TapeCatalog catalog = CatalogTape(load.image);
    if (catalog.entries.empty()) {
        const char* why = empty                ? "the file is empty"
                          : load.image.empty() ? "no data blocks"
                                               : "nothing but blanks";
        return Refused(label + ": no tape in it (" + why + ")");
    }
    TapeFile file;
    file.image = std::move(load.image);
    file.catalog = std::move(catalog);
    file.label = std::move(label);
    return file;
}

std::string TapeListing(const TapeCatalog& catalog) {
    if (catalog.entries.empty()) {
        return "no entries\n";
    }
    std::string listing = "   #  type  name        length  param1  param2  flags  check\n";
    char line[160];
    int number = 0;
    for (const CatalogEntry& entry : catalog.entries) {
        std::snprintf(line, sizeof line, "%4d  %4u  %-10s  %6u  %6u  %6u  %02X %02X  %s\n",
                      ++number, static_cast<unsigned>(entry.type), ShownName(entry.name).c_str(),
                      static_cast<unsigned>(entry.length), static_cast<unsigned>(entry.param1),
                      static_cast<unsigned>(entry.param2), static_cast<unsigned>(entry.header_flag),
                      static_cast<unsigned>(entry.data_flag), CheckWord(entry.check).data());
        listing += line;
        if (!entry.problem.empty()) {
            listing += "        ^ " + entry.problem + "\n";
        }
    }
    listing += TotalLine(catalog) + "\n";
    if (!catalog.not_a_tape.empty()) {
        listing += "not a tape: " + catalog.not_a_tape + "\n";
    }
    return listing;
}

std::vector<std::string> TapeWarnings(const TapeCatalog& catalog, const std::string& label) {
    std::vector<std::string> warnings;
    if (!catalog.not_a_tape.empty()) {
        warnings.push_back(label + " is not a tape (" + catalog.not_a_tape +
                           "); it is served as it stands");
    }
    std::size_t warned = 0;
    std::size_t unwarned = 0;
    int number = 0;
    for (const CatalogEntry& entry : catalog.entries) {
        ++number;
        if (entry.check == BlockCheck::kOk && entry.problem.empty()) {
            continue;
        }
        if (warned == kWarnedEntries) {
            ++unwarned;
            continue;
        }
        ++warned;
        std::string text = "entry " + std::to_string(number) + " (" + ShownName(entry.name) + "): ";
        if (entry.check == BlockCheck::kBad) {
            text += "a checksum is wrong";
        } else if (entry.check == BlockCheck::kShort) {
            text += "cut short";
        }
        if (!entry.problem.empty()) {
            text += (entry.check == BlockCheck::kOk ? "" : "; ") + entry.problem;
        }
        warnings.push_back(std::move(text));
    }
    if (unwarned != 0) {
        warnings.push_back(Counted(unwarned, "more entry", "more entries") +
                           " with faults (kestrel-serve --list shows them)");
    }
    return warnings;
}

}  // namespace kestrel::serve
