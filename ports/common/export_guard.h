#pragma once
// What keeps exceptions inside a module. The callers of the exports are C, or
// C++ of another compiler and runtime; an exception that crossed the boundary
// would end the process or unwind through frames that cannot take it. Every
// export body runs inside Guarded, which answers the contract's failure value
// instead, with a trace line naming the call and what was thrown.
#include <utility>

namespace qz381::ports {

// Traces the exception being handled; call only inside a catch block.
void TraceEscapedException(const char* where) noexcept;

// `where` names the module and the call ("com: Write").
template <typename Result, typename Body>
Result Guarded(const char* where, Result failure, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    TraceEscapedException(where);
  }
  return failure;
}

template <typename Body>
void Guarded(const char* where, Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (...) {
    TraceEscapedException(where);
  }
}

}  // namespace qz381::ports
