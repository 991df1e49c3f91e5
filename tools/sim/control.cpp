#include "tools/sim/control.h"

#include <charconv>
#include <sstream>

namespace qz381::sim {
namespace {

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool ParseNumber(std::string_view word, uint32_t* out) {
  auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), *out);
  return ec == std::errc() && end == word.data() + word.size();
}

std::optional<bool> OnOff(std::string_view word) {
  if (word == "on") return true;
  if (word == "off") return false;
  return std::nullopt;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<ControlCommand> ParseControlCommand(std::string_view line, std::string* error) {
  error->clear();
  const auto w = Words(line);
  if (w.empty() || w[0][0] == '#') return std::nullopt;
  using Kind = ControlCommand::Kind;
  ControlCommand c;
  auto fail = [&](std::string message) -> std::optional<ControlCommand> {
    *error = std::move(message);
    return std::nullopt;
  };
  auto expect_args = [&](size_t n) { return w.size() == n + 1; };
  const std::string_view verb = w[0];

  if (verb == "cover") {
    if (!expect_args(1) || (w[1] != "open" && w[1] != "close" && w[1] != "closed"))
      return fail("usage: cover open|close");
    c.kind = Kind::kCover;
    c.flag = w[1] == "open";
  } else if (verb == "paper") {
    if (!expect_args(1)) return fail("usage: paper ok|near|end");
    c.kind = Kind::kPaper;
    if (w[1] == "ok")
      c.paper = Paper::kOk;
    else if (w[1] == "near")
      c.paper = Paper::kNearEnd;
    else if (w[1] == "end")
      c.paper = Paper::kEnd;
    else
      return fail("usage: paper ok|near|end");
  } else if (verb == "offline" || verb == "online") {
    if (!expect_args(0)) return fail("usage: " + std::string(verb));
    c.kind = Kind::kOffline;
    c.flag = verb == "offline";
  } else if (verb == "error") {
    if (!expect_args(1)) return fail("usage: error none|cutter|mechanical|unrecoverable");
    c.kind = Kind::kError;
    if (w[1] == "none")
      c.fault = Fault::kNone;
    else if (w[1] == "cutter")
      c.fault = Fault::kCutter;
    else if (w[1] == "mechanical")
      c.fault = Fault::kMechanical;
    else if (w[1] == "unrecoverable")
      c.fault = Fault::kUnrecoverable;
    else
      return fail("usage: error none|cutter|mechanical|unrecoverable");
  } else if (verb == "cartridge") {
    // "cartridge cleaning on" is accepted too: cleaning belongs to the cartridges.
    if (w.size() == 3 && w[1] == "cleaning") {
      auto on = OnOff(w[2]);
      if (!on) return fail("usage: cartridge cleaning on|off");
      c.kind = Kind::kCleaning;
      c.flag = *on;
      return c;
    }
    size_t i = 1;
    c.kind = Kind::kCartridge;
    if (w.size() == 3 && (w[1] == "primary" || w[1] == "second")) {
      c.second_cartridge = w[1] == "second";
      i = 2;
    } else if (w.size() != 2) {
      return fail("usage: cartridge [primary|second] ok|near|empty|removed");
    }
    if (w[i] == "ok")
      c.cartridge = Cartridge::kOk;
    else if (w[i] == "near")
      c.cartridge = Cartridge::kNearEnd;
    else if (w[i] == "empty")
      c.cartridge = Cartridge::kEmpty;
    else if (w[i] == "removed")
      c.cartridge = Cartridge::kRemoved;
    else
      return fail("usage: cartridge [primary|second] ok|near|empty|removed");
  } else if (verb == "cleaning" || verb == "silent" || verb == "pause") {
    auto on = expect_args(1) ? OnOff(w[1]) : std::nullopt;
    if (!on) return fail("usage: " + std::string(verb) + " on|off");
    c.kind = verb == "cleaning" ? Kind::kCleaning : verb == "silent" ? Kind::kSilent : Kind::kPause;
    c.flag = *on;
  } else if (verb == "baud" || verb == "sleep") {
    if (!expect_args(1) || !ParseNumber(w[1], &c.number))
      return fail(verb == "baud" ? "usage: baud N (0: no limit)" : "usage: sleep MS");
    c.kind = verb == "baud" ? Kind::kBaud : Kind::kSleep;
  } else if (verb == "send") {
    if (w.size() < 2) return fail("usage: send HEX...");
    c.kind = Kind::kSend;
    std::string digits;
    for (size_t i = 1; i < w.size(); ++i) digits += w[i];
    if (digits.size() % 2 != 0) return fail("send: odd number of hex digits");
    for (size_t i = 0; i < digits.size(); i += 2) {
      const int hi = HexDigit(digits[i]), lo = HexDigit(digits[i + 1]);
      if (hi < 0 || lo < 0) return fail("send: not a hex byte: " + digits.substr(i, 2));
      c.bytes += static_cast<char>(hi << 4 | lo);
    }
  } else if (verb == "net") {
    const std::string_view what = w.size() >= 2 ? w[1] : std::string_view();
    if ((what == "drop" || what == "reset") && expect_args(1)) {
      c.kind = Kind::kNetDrop;
      c.flag = what == "reset";
    } else if ((what == "refuse" || what == "stall") && expect_args(2) && OnOff(w[2])) {
      c.kind = what == "refuse" ? Kind::kNetRefuse : Kind::kNetStall;
      c.flag = *OnOff(w[2]);
    } else {
      return fail("usage: net refuse on|off | net drop | net reset | net stall on|off");
    }
  } else if (verb == "status" || verb == "quit") {
    if (!expect_args(0)) return fail("usage: " + std::string(verb));
    c.kind = verb == "status" ? Kind::kStatus : Kind::kQuit;
  } else {
    return fail("unknown command: " + std::string(verb));
  }
  return c;
}

bool ParseScenario(std::istream& in, std::vector<ScenarioStep>* steps, std::string* error) {
  steps->clear();
  std::string text;
  int number = 0;
  while (std::getline(in, text)) {
    ++number;
    std::string_view line = text;
    ScenarioStep step;
    step.line = number;
    const auto words = Words(line);
    if (!words.empty() && words[0] == "at") {
      uint32_t ms = 0;
      if (words.size() < 3 || !ParseNumber(words[1], &ms)) {
        *error = "line " + std::to_string(number) + ": usage: at MS command";
        return false;
      }
      step.at = std::chrono::milliseconds(ms);
      line = line.substr(words[2].data() - line.data());
    }
    std::string message;
    auto command = ParseControlCommand(line, &message);
    if (!command) {
      if (message.empty()) continue;
      *error = "line " + std::to_string(number) + ": " + message;
      return false;
    }
    step.command = *command;
    steps->push_back(std::move(step));
  }
  return true;
}

}  // namespace qz381::sim
