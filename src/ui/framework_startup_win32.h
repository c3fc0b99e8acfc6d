#pragma once

namespace kestrel::ui {

// The window framework's start-up and shut-down procedures: the platform's GDI+
// graphics layer is started for the whole run and shut down at its end.
void FrameworkStartup();
void FrameworkShutdown();

}  // namespace kestrel::ui
