#pragma once

namespace kestrel::app {

// One session of the tool: asks for a tape file, reads the port from the settings
// file, loads the tape, opens the session window with its log, serves the remote
// machine from inside it, and closes the port when the window has gone.
void MAIN();

}  // namespace kestrel::app
