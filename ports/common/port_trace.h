#pragma once
// Trace points of the shared port code. Lines go to a hook rather than straight
// to the platform trace so that this library builds and tests without the
// platform runtime; when built with QZ381_PORTS_PLATFORM_TRACE the hook starts
// out as qz381::platform::Trace. Tests install their own hook to see the lines.
namespace qz381::ports {

using TraceHook = void (*)(const char* line);

// nullptr drops trace lines. Safe to call from any thread.
void SetTraceHook(TraceHook hook);
TraceHook GetTraceHook();

// Formats one line and hands it to the hook; costs one load when no hook is set.
void PortTrace(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace qz381::ports
