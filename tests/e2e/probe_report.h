#pragma once

// The report file of a test probe program: one "name=value" line each, flushed at
// once so that the driving test can read it while the probe still runs; values
// that are bytes are written in hex. Safe to use from the probe's watcher thread.

#include <cstdio>
#include <mutex>
#include <string>

#include "support/hex.h"

namespace kestrel::testing {

class ProbeReport {
  public:
    explicit ProbeReport(const char* path) : path_(path), file_(std::fopen(path, "wb")) {}
    ProbeReport(const ProbeReport&) = delete;
    ProbeReport& operator=(const ProbeReport&) = delete;
    ~ProbeReport() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    bool ok() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }

    void Line(const std::string& name, const std::string& value) {
        std::lock_guard<std::mutex> hold(lock_);
        if (file_ != nullptr) {
            std::fprintf(file_, "%s=%s\n", name.c_str(), value.c_str());
            std::fflush(file_);
        }
    }
    void Bytes(const std::string& name, const std::string& bytes) { Line(name, Hex(bytes)); }

  private:
    std::string path_;
    std::FILE* file_;
    std::mutex lock_;
};

}  // namespace kestrel::testing
