#include "ports/common/export_guard.h"

#include <exception>

#include "platform/trace.h"

namespace qz381::ports {

void TraceEscapedException(ExportName where) noexcept {
  const char* separator = where.call ? ": " : "";
  const char* call = where.call ? where.call : "";
  // Tracing can fail too (no memory to format the line); then nothing is said.
  try {
    try {
      throw;
    } catch (const std::exception& error) {
      platform::Trace("%s%s%s: stopped by an exception (%s); answering failure", where.module,
                      separator, call, error.what());
    } catch (...) {
      platform::Trace("%s%s%s: stopped by an unknown exception; answering failure", where.module,
                      separator, call);
    }
  } catch (...) {
  }
}

}  // namespace qz381::ports
