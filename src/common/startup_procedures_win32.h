#pragma once

#include "common/startup_procedures.h"

namespace kestrel::common {

// The library's file and process needs over the platform.
class PlatformLibraryFiles final : public LibraryFiles {
  public:
    std::vector<DirEntry> List(const std::string& directory) override;
    bool RemoveFile(const std::string& path, bool even_read_only) override;
    bool RemoveDir(const std::string& path) override;
    bool HeldOpen(const std::string& path) override;
    bool Exists(const std::string& path) override;
    std::optional<std::string> TempVariable() override;
    std::string CurrentDriveRoot() override;
    void FailCriticalErrors() override;
    void CloseFile(std::intptr_t file) override;
};

// The local time as GETNEWFNAME reads it.
ClockReading LocalClock();

// INIT and EXIT over the platform: the library's start-up and shut-down procedures.
void LibraryStartup();
void LibraryShutdown();

}  // namespace kestrel::common
