#pragma once
// The failure schedule of the fault-injecting wrappers (serial, USB): which call
// of which kind fails, once or from then on, and how many calls were made.
#include <map>
#include <mutex>
#include <optional>

#include "platform/status.h"

namespace qz381::platform {

enum class FaultMode { kOnce, kFromThenOn };

template <typename Call>
struct FaultPlan {
  struct Rule {
    int countdown = 0;  // calls until the failing one; 0 = no rule
    FaultMode mode = FaultMode::kOnce;
    Outcome outcome = Outcome::kIoError;
    bool firing = false;  // kFromThenOn after its first failure
  };
  mutable std::mutex mutex;
  std::map<Call, Rule> rules;
  std::map<Call, int> calls;

  void Fail(Call call, int nth, FaultMode mode, Outcome outcome) {
    std::lock_guard hold(mutex);
    rules[call] = Rule{nth < 1 ? 1 : nth, mode, outcome, false};
  }
  void Clear() {
    std::lock_guard hold(mutex);
    rules.clear();
  }
  int Count(Call call) const {
    std::lock_guard hold(mutex);
    auto it = calls.find(call);
    return it == calls.end() ? 0 : it->second;
  }
  // Counts the call; the outcome it must fail with, or nullopt.
  std::optional<Outcome> Next(Call call) {
    std::lock_guard hold(mutex);
    ++calls[call];
    auto it = rules.find(call);
    if (it == rules.end()) return std::nullopt;
    Rule& rule = it->second;
    if (rule.firing) return rule.outcome;
    if (rule.countdown == 0 || --rule.countdown != 0) return std::nullopt;
    if (rule.mode == FaultMode::kFromThenOn) rule.firing = true;
    return rule.outcome;
  }
};

}  // namespace qz381::platform
