#pragma once
// The one error shape of the platform layer: what went wrong in portable terms,
// the native code read right after the failing call, and where (operation, file,
// port) so that a trace line can say it all.
#include <string>
#include <utility>

namespace qz381::platform {

enum class Outcome {
  kOk,
  kNotFound,         // key, value, file, symbol or device does not exist
  kWrongType,        // exists, but not of the requested kind
  kMalformed,        // a file or input that cannot be parsed (context names the line)
  kIoError,          // the operating system refused a read, write or open
  kBusy,             // held by someone else (lock, device in use)
  kTimedOut,         // a wait ran out
  kInvalidArgument,  // the caller passed something unusable
  kUnsupported,      // not available on this platform
};

const char* OutcomeName(Outcome outcome);

class Status {
 public:
  Status() = default;
  static Status Ok() { return Status(); }
  static Status Fail(Outcome outcome, std::string context, int native = 0) {
    Status s;
    s.outcome_ = outcome;
    s.context_ = std::move(context);
    s.native_ = native;
    return s;
  }

  bool ok() const { return outcome_ == Outcome::kOk; }
  Outcome outcome() const { return outcome_; }
  int native() const { return native_; }
  const std::string& context() const { return context_; }
  // "not found: HKLM\Software\X: value 'Port'" / "malformed: /etc/r.reg:12: ..." (+ " (native 2)")
  std::string ToString() const;

 private:
  Outcome outcome_ = Outcome::kOk;
  int native_ = 0;
  std::string context_;
};

}  // namespace qz381::platform
