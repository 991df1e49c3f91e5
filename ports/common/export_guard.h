#pragma once
// What keeps exceptions inside a module. The callers of the exports are C, or
// C++ of another compiler and runtime; an exception that crossed the boundary
// would end the process or unwind through frames that cannot take it. Every
// export body runs inside Guarded, which answers the contract's failure value
// instead, with a trace line naming the call and what was thrown.
#include <utility>

namespace qz381::ports {

// Names an export in trace lines: one string ("Vexlink: OpenPort"), or the
// module and the call apart ({"com", "Write"}), printed as "com: Write".
struct ExportName {
  ExportName(const char* where) : module(where) {}  // NOLINT: implicit by design
  ExportName(const char* module_name, const char* call_name)
      : module(module_name), call(call_name) {}
  const char* module;
  const char* call = nullptr;
};

// Traces the exception being handled; call only inside a catch block.
void TraceEscapedException(ExportName where) noexcept;

template <typename Result, typename Body>
Result Guarded(ExportName where, Result failure, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    TraceEscapedException(where);
  }
  return failure;
}

template <typename Body>
void Guarded(ExportName where, Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (...) {
    TraceEscapedException(where);
  }
}

}  // namespace qz381::ports
