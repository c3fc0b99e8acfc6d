#pragma once

#include <string>

namespace kestrel::errors {

// The call chain as the error report sees it. An application routine that wants to
// be named in a report carries a SourceFrame for as long as it runs:
//
//     void MAIN() {
//         const errors::SourceFrame frame("MAIN", __LINE__);
//
// The frames of one thread form a stack, innermost first; a routine without one
// (the library's, the framework's, the platform-facing ones, the error handler's
// own) is passed over. A frame costs two pointers and allocates nothing.
class SourceFrame {
  public:
    SourceFrame(const char* name, int line) noexcept;
    ~SourceFrame();
    SourceFrame(const SourceFrame&) = delete;
    SourceFrame& operator=(const SourceFrame&) = delete;

    // Moves the frame's line to where the routine has got to, for a report raised
    // further on.
    void At(int line) noexcept { line_ = line; }

    const char* name() const { return name_; }
    int line() const { return line_; }
    const SourceFrame* outer() const { return outer_; }

  private:
    const char* name_;
    int line_;
    const SourceFrame* outer_;
};

struct ReportingRoutine {
    std::string name;  // empty when no routine carries a frame
    int line = 0;
};

// The innermost routine on this thread's call chain that carries a frame, after
// passing over `skip` such routines.
ReportingRoutine InnermostRoutine(int skip = 0);

}  // namespace kestrel::errors
