#include "platform/status.h"

namespace qz381::platform {

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kOk:
      return "ok";
    case Outcome::kNotFound:
      return "not found";
    case Outcome::kWrongType:
      return "wrong type";
    case Outcome::kMalformed:
      return "malformed";
    case Outcome::kIoError:
      return "I/O error";
    case Outcome::kBusy:
      return "busy";
    case Outcome::kTimedOut:
      return "timed out";
    case Outcome::kInvalidArgument:
      return "invalid argument";
    case Outcome::kUnsupported:
      return "unsupported";
  }
  return "unknown outcome";
}

std::string Status::ToString() const {
  std::string text = OutcomeName(outcome_);
  if (!context_.empty()) {
    text += ": ";
    text += context_;
  }
  if (native_ != 0) {
    text += " (native ";
    text += std::to_string(native_);
    text += ")";
  }
  return text;
}

}  // namespace qz381::platform
