#include "errors/source_frame.h"

namespace kestrel::errors {

namespace {

// The innermost frame of this thread's call chain; each frame links to its outer one.
thread_local const SourceFrame* innermost = nullptr;

}  // namespace

SourceFrame::SourceFrame(const char* name, int line) noexcept
    : name_(name), line_(line), outer_(innermost) {
    innermost = this;
}

// Frames end in the reverse order of their start (they live on the stack), so the
// one ending is always the innermost.
SourceFrame::~SourceFrame() {
    innermost = outer_;
}

ReportingRoutine InnermostRoutine(int skip) {
    const SourceFrame* frame = innermost;
    for (; frame != nullptr && skip > 0; --skip) {
        frame = frame->outer();
    }
    if (frame == nullptr) {
        return {};
    }
    return {frame->name(), frame->line()};
}

}  // namespace kestrel::errors
