#pragma once
// Which calls a fault-injecting wrapper fails: the nth call of a kind from now,
// once or from then on, with a chosen outcome. Shared by the serial and socket
// wrappers; safe from any thread, as the wrapped devices are used from several.
#include <map>
#include <mutex>
#include <optional>

#include "platform/status.h"

namespace qz381::platform {

enum class FaultMode { kOnce, kFromThenOn };

template <typename Call>
class FaultSchedule {
 public:
  // The nth call of that kind from now (1 = the next one) fails with `outcome`,
  // once or together with every later call of that kind.
  void Fail(Call call, int nth, FaultMode mode, Outcome outcome) {
    std::lock_guard hold(mutex_);
    rules_[call] = Rule{nth < 1 ? 1 : nth, mode, outcome, false};
  }
  void Clear() {
    std::lock_guard hold(mutex_);
    rules_.clear();
  }
  int Calls(Call call) const {
    std::lock_guard hold(mutex_);
    auto it = calls_.find(call);
    return it == calls_.end() ? 0 : it->second;
  }
  // Counts the call; the outcome it must fail with, or nullopt.
  std::optional<Outcome> Next(Call call) {
    std::lock_guard hold(mutex_);
    ++calls_[call];
    auto it = rules_.find(call);
    if (it == rules_.end()) return std::nullopt;
    Rule& rule = it->second;
    if (rule.firing) return rule.outcome;
    if (rule.countdown == 0 || --rule.countdown != 0) return std::nullopt;
    if (rule.mode == FaultMode::kFromThenOn) rule.firing = true;
    return rule.outcome;
  }

 private:
  struct Rule {
    int countdown = 0;  // calls until the failing one; 0 = no rule
    FaultMode mode = FaultMode::kOnce;
    Outcome outcome = Outcome::kIoError;
    bool firing = false;  // kFromThenOn after its first failure
  };
  mutable std::mutex mutex_;
  std::map<Call, Rule> rules_;
  std::map<Call, int> calls_;
};

}  // namespace qz381::platform
