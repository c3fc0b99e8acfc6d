#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace kestrel::testing {

// Makes `path` the process's current directory while it lives, and puts the one
// before it back at the end.
class WorkingDirectory {
  public:
    explicit WorkingDirectory(const std::filesystem::path& path)
        : previous_(std::filesystem::current_path()) {
        std::error_code failed;
        std::filesystem::current_path(path, failed);
        entered_ = !failed;
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;
    ~WorkingDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }

    bool entered() const { return entered_; }

  private:
    std::filesystem::path previous_;
    bool entered_ = false;
};

inline std::string CurrentDirectoryNow() {
    return std::filesystem::current_path().string();
}

}  // namespace kestrel::testing
