#pragma once

#include <string>

namespace kestrel::serve {

// A tape file as the server takes it, through the loader the Windows tool uses
// (app::LoadTapeFile): a TAP file as it is, a TZX file as the TAP bytes it is
// equivalent to, or refused.
struct TapeFile {
    enum class Status { kLoaded, kUnreadable, kRefused };
    Status status = Status::kLoaded;
    std::string image;    // kLoaded: the bytes the tape image serves
    std::string message;  // otherwise: one line saying why, naming the file
};

// Unlike the Windows tool, which serves an unreadable file as an empty tape, a file
// that cannot be read is reported (an empty file is an empty tape, which is fine).
TapeFile ReadTapeFile(const std::string& path);

// The entries of a tape image, one line each, under a header line: number, type,
// name (as the log shows it), data length and the two parameters.
std::string TapeListing(std::string image);

}  // namespace kestrel::serve
