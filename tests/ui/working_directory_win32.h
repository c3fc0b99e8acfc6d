#pragma once

#include <windows.h>

#include <string>

namespace kestrel::testing {

// Makes `path` the process's current directory for one test and puts the previous
// one back afterwards.
class WorkingDirectory {
  public:
    explicit WorkingDirectory(const std::string& path) {
        char previous[MAX_PATH] = {};
        GetCurrentDirectoryA(MAX_PATH, previous);
        previous_ = previous;
        entered_ = SetCurrentDirectoryA(path.c_str()) != FALSE;
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;
    ~WorkingDirectory() { SetCurrentDirectoryA(previous_.c_str()); }

    bool entered() const { return entered_; }

  private:
    std::string previous_;
    bool entered_ = false;
};

inline std::string CurrentDirectoryNow() {
    char buffer[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, buffer);
    return buffer;
}

}  // namespace kestrel::testing
