#pragma once

#include <string>
#include <string_view>

#include "app/tzx_tape.h"

namespace kestrel::app {

// The image a chosen tape file gives, for both front ends.
//
// A TZX file (one that begins with "ZXTape!", or any file named *.tzx, so that a
// damaged one is refused rather than served as a TAP file) is converted to its TAP
// equivalent, or refused (TzxToTap). Any other file is a TAP file and is taken
// whole, as MEMOREAD reads it: less one final 1Ah, and an unreadable or empty
// file gives an empty image, which is not an error (an unreadable one is marked
// not readable, for a front end that reports it).
TapeLoad LoadTapeFile(const std::string& path);

// The same for bytes already read (a file's, with any final 1Ah still in them), the
// name deciding as the path does: a member of an archive loads as its file would.
TapeLoad LoadTapeBytes(std::string bytes, std::string_view name);

}  // namespace kestrel::app
