#pragma once

#include <string>

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

}  // namespace kestrel::app
