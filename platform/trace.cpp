#include "platform/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "platform/sync.h"
#include "platform/thread_id.h"

namespace qz381::platform {
namespace {

using Capture = std::function<void(std::string_view)>;

enum Mode : int { kUnknown, kOff, kOn };

struct Sink {
  std::mutex mu;
  std::shared_ptr<const Capture> capture;  // copied out so it runs without the lock
  std::FILE* file = nullptr;               // stderr or our own file
};

// Leaked on purpose: modules may still trace while the process exits.
Sink& TheSink() {
  static Sink* sink = new Sink;
  return *sink;
}

// The only state read on every trace point; kUnknown until the environment is read.
std::atomic<int> g_mode{kUnknown};

// Caller holds the sink's lock.
void CloseFile(Sink& sink) {
  if (sink.file && sink.file != stderr) std::fclose(sink.file);
  sink.file = nullptr;
}

int ReadEnvironment() {
  Sink& sink = TheSink();
  std::lock_guard lock(sink.mu);
  int mode = g_mode.load(std::memory_order_acquire);
  if (mode != kUnknown) return mode;  // another thread got here first
  const char* target = std::getenv("QZ381_TRACE");
  if (target && std::strcmp(target, "stderr") == 0) {
    sink.file = stderr;
  } else if (target && *target) {
    sink.file = std::fopen(target, "a");
    if (sink.file) {
      // Room for any ordinary line, so each one leaves in a single append write
      // and lines of several processes sharing the file do not interleave.
      std::setvbuf(sink.file, nullptr, _IOFBF, 1 << 16);
    } else {
      std::fprintf(stderr, "qz381: cannot open trace file %s; tracing is off\n", target);
    }
  }
  mode = sink.file ? kOn : kOff;
  g_mode.store(mode, std::memory_order_release);
  return mode;
}

std::string Format(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return "(bad trace format)";
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string text(static_cast<size_t>(n), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

}  // namespace

bool TraceEnabled() {
  int mode = g_mode.load(std::memory_order_acquire);
  if (mode == kUnknown) mode = ReadEnvironment();
  return mode == kOn;
}

void Trace(const char* format, ...) {
  if (!TraceEnabled()) return;
  va_list args;
  va_start(args, format);
  std::string message = Format(format, args);
  va_end(args);
  while (!message.empty() && message.back() == '\n') message.pop_back();

  std::string line = std::to_string(TickCount()) + " " + std::to_string(CurrentThreadNumber()) +
                     " " + message + "\n";
  Sink& sink = TheSink();
  std::shared_ptr<const Capture> capture;
  {
    std::lock_guard lock(sink.mu);
    if (sink.capture) {
      capture = sink.capture;
    } else if (sink.file) {
      std::fwrite(line.data(), 1, line.size(), sink.file);
      std::fflush(sink.file);
    }
  }
  if (capture) (*capture)(std::string_view(line).substr(0, line.size() - 1));
}

void SetTraceCapture(std::function<void(std::string_view line)> capture) {
  Sink& sink = TheSink();
  std::lock_guard lock(sink.mu);
  CloseFile(sink);
  if (capture) {
    sink.capture = std::make_shared<const Capture>(std::move(capture));
    g_mode.store(kOn, std::memory_order_release);
  } else {
    sink.capture.reset();
    g_mode.store(kUnknown, std::memory_order_release);
  }
}

}  // namespace qz381::platform
