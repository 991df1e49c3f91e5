#include "ports/common/export_guard.h"

#include <exception>

#include "platform/trace.h"

namespace qz381::ports {

void TraceEscapedException(const char* where) noexcept {
  // Tracing can fail too (no memory to format the line); then nothing is said.
  try {
    try {
      throw;
    } catch (const std::exception& error) {
      platform::Trace("%s: stopped by an exception (%s); answering failure", where, error.what());
    } catch (...) {
      platform::Trace("%s: stopped by an unknown exception; answering failure", where);
    }
  } catch (...) {
  }
}

}  // namespace qz381::ports
