#pragma once
// The system's diagnostic trace points. QZ381_TRACE names the sink: a file path
// (lines are appended) or "stderr"; without it trace lines are dropped at the cost
// of one branch. Each line carries the tick count and the thread.
#include <functional>
#include <string_view>

namespace qz381::platform {

bool TraceEnabled();
void Trace(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Tests capture trace lines here instead, each as written but without its line
// break; the capture runs on the tracing thread, outside any lock of ours.
// nullptr restores the environment's sink, reading QZ381_TRACE again.
void SetTraceCapture(std::function<void(std::string_view line)> capture);

}  // namespace qz381::platform
