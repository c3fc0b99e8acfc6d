#pragma once

#include "app/receive_buffer.h"
#include "app/tape_image.h"

namespace kestrel::app {

// The tool's two module-wide values, alive for the whole process: what is left of
// the tape, and the bytes received but not yet taken as commands. Everything else
// the session needs is owned by MAIN and handed to the routines that use it.
TapeImage& TheTapeImage();
ReceiveBuffer& TheReceiveBuffer();

}  // namespace kestrel::app
