#include "ports/common/port_trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#if defined(QZ381_PORTS_PLATFORM_TRACE)
#include "platform/trace.h"
#endif

namespace qz381::ports {
namespace {

#if defined(QZ381_PORTS_PLATFORM_TRACE)
void ToPlatformTrace(const char* line) {
  qz381::platform::Trace("%s", line);
}
constexpr TraceHook kInitialHook = &ToPlatformTrace;
#else
constexpr TraceHook kInitialHook = nullptr;
#endif

std::atomic<TraceHook> g_hook{kInitialHook};

}  // namespace

void SetTraceHook(TraceHook hook) {
  g_hook.store(hook, std::memory_order_release);
}

TraceHook GetTraceHook() {
  return g_hook.load(std::memory_order_acquire);
}

void PortTrace(const char* format, ...) {
  TraceHook hook = g_hook.load(std::memory_order_acquire);
  if (hook == nullptr) return;
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  hook(line);
}

}  // namespace qz381::ports
