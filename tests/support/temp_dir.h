#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace kestrel::testing {

// A fresh directory for one test, removed with everything in it afterwards.
class TempDir {
  public:
    TempDir() {
        std::random_device entropy;
        auto base = std::filesystem::temp_directory_path();
        for (;;) {
            path_ = base / ("kestrel-test-" + std::to_string(entropy()));
            if (std::filesystem::create_directory(path_)) {
                break;
            }
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    std::string path() const { return path_.string(); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

}  // namespace kestrel::testing
