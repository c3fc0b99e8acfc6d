#pragma once

#include <string>

namespace kestrel::errors {

// The call chain as the error report sees it. An application routine that wants to
// be named in a report carries a SourceFrame for as long as it runs, and marks each
// statement that may fail or that calls another named routine, so that the report
// gives the line of the failing statement in the innermost routine and the line of
// the call in the outer ones:
//
//     void MAIN() {
//         KESTREL_FRAME("MAIN");
//         const std::optional<std::string> port_to_open =
//             KESTREL_AT_LINE(StartSession(ProgramArguments(), services));
//         ...
//         KESTREL_AT_LINE(window.Activate(run));
//
// The frames of one thread form a stack, innermost first; a routine without one
// (the library's, the framework's, the platform-facing ones, the error handler's
// own) is passed over. A frame costs two pointers and an int, and a marked
// statement two stores of an int; nothing allocates.
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

// Puts a frame at one line for the span of one statement, then back where it was:
// between marked statements, and once a callback that the routine's own text holds
// has returned to the framework, the routine's frame shows its first line again.
class AtLine {
  public:
    AtLine(SourceFrame& frame, int line) noexcept : frame_(frame), previous_(frame.line()) {
        frame.At(line);
    }
    ~AtLine() { frame_.At(previous_); }
    AtLine(const AtLine&) = delete;
    AtLine& operator=(const AtLine&) = delete;

  private:
    SourceFrame& frame_;
    int previous_;
};

struct ReportingRoutine {
    std::string name;  // empty when no routine carries a frame
    int line = 0;
};

// The innermost routine on this thread's call chain that carries a frame, after
// passing over `skip` such routines.
ReportingRoutine InnermostRoutine(int skip = 0);

}  // namespace kestrel::errors

// Names the enclosing routine in the call chain until it returns (one per routine).
#define KESTREL_FRAME(name) ::kestrel::errors::SourceFrame kestrel_source_frame(name, __LINE__)

// Evaluates `expression` (a call that may fail, or that calls another named routine)
// with the routine's frame at this line, and gives its value. Keep the call on the
// line it starts on: the line reported is the line of KESTREL_AT_LINE.
#define KESTREL_AT_LINE(expression) \
    (::kestrel::errors::AtLine(kestrel_source_frame, __LINE__), (expression))
