#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "serve/tape_catalog.h"

namespace kestrel::serve {

// A tape file as the server takes it, through the loader the Windows tool uses
// (app::LoadTapeBytes): a TAP file as it is, a TZX file as the TAP bytes it is
// equivalent to, the one tape in a zip archive as its own file would load, or
// refused.
struct TapeFile {
    enum class Status { kLoaded, kUnreadable, kRefused };
    Status status = Status::kLoaded;
    std::string image;    // kLoaded: the bytes the tape image serves
    TapeCatalog catalog;  // kLoaded: its entries, checked (never empty)
    std::string message;  // otherwise: one line saying why, naming the file
    // What names the tape in messages: the path, or "ARCHIVE: MEMBER" for a tape
    // taken out of a zip archive.
    std::string label;
};

// Unlike the Windows tool, which serves an unreadable file as an empty tape, a file
// that cannot be read is reported, and one that holds no entry at all (empty, or
// nothing but blanks) is refused. `member` chooses the tape in a zip archive; it is
// refused for a file that is not one.
TapeFile ReadTapeFile(const std::string& path, const std::string& member = {});

// The entries of a tape image (its catalog), one line each, under a header line: number, type,
// name (its bytes below 20h, 7Fh and above, and the backslash as \xNN), data length,
// the two parameters, the header and data blocks' flag bytes (hex) and how their
// checksums stand ("ok", "bad", "short"). A structure problem stands on a line under
// its entry; a total line ends the table, and a file that is not a tape is named
// after it. An image without entries lists as "no entries".
std::string TapeListing(const TapeCatalog& catalog);

// The warnings to give before a tape (its catalog) is served, one line each, naming the tape by
// `label`: a file that is not a tape, then each entry whose blocks do not pair, are
// bad or short (by number and name; past the first few, one line counts the rest).
std::vector<std::string> TapeWarnings(const TapeCatalog& catalog, const std::string& label);

}  // namespace kestrel::serve
