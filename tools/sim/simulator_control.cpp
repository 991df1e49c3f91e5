// The operator's side of the virtual printer: faults, commands and scenarios.
#include <cstdio>

#include "tools/sim/simulator.h"

namespace qz381::sim {

using Clock = std::chrono::steady_clock;

void Simulator::SetCoverOpen(bool open) {
  std::lock_guard lock(mu_);
  state_.status.cover_open = open;
  ReportChangesLocked();
}

void Simulator::SetPaper(Paper paper) {
  std::lock_guard lock(mu_);
  state_.status.paper = paper;
  ReportChangesLocked();
}

void Simulator::SetOffline(bool offline) {
  std::lock_guard lock(mu_);
  state_.status.offline_switch = offline;
  ReportChangesLocked();
}

void Simulator::SetFault(Fault fault) {
  std::lock_guard lock(mu_);
  state_.status.fault = fault;
  ReportChangesLocked();
}

void Simulator::SetCartridge(bool second, Cartridge state) {
  std::lock_guard lock(mu_);
  (second ? state_.status.second : state_.status.primary) = state;
  ReportChangesLocked();
}

void Simulator::SetHeadCleaning(bool on) {
  std::lock_guard lock(mu_);
  state_.status.head_cleaning = on;
  ReportChangesLocked();
}

void Simulator::SetSilent(bool silent) {
  std::lock_guard lock(mu_);
  silent_ = silent;
  if (silent) {
    // Whatever was still waiting to go out is lost with the line, a status
    // block among it: the host has not seen it, so the printer reports its
    // state afresh when it speaks again.
    if (!outbox_.empty()) {
      outbox_.clear();
      last_asb_ = {};
      last_cartridge_ = {};
    }
  } else {
    ReportChangesLocked();
  }
}

void Simulator::SetPaused(bool paused) {
  std::lock_guard lock(mu_);
  paused_ = paused;
  Wake();
}

void Simulator::SetBaud(uint32_t baud) {
  std::lock_guard lock(mu_);
  baud_ = baud;
  pacing_reset_ = true;
  Wake();
}

bool Simulator::SetNetRefusing(bool refusing) {
  if (options_.tcp_address.empty()) return false;
  std::lock_guard lock(mu_);
  net_refusing_ = refusing;
  Wake();
  return true;
}

bool Simulator::DropConnection(bool reset) {
  if (options_.tcp_address.empty()) return false;
  std::lock_guard lock(mu_);
  net_drop_ = reset ? 2 : 1;
  Wake();
  return true;
}

bool Simulator::SetNetStalled(bool stalled) {
  if (options_.tcp_address.empty()) return false;
  std::lock_guard lock(mu_);
  net_stalled_ = stalled;
  Wake();
  return true;
}

bool Simulator::WaitForConnection(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, timeout, [&] { return connections_ >= count || stopping_; }) &&
         connections_ >= count;
}

void Simulator::SendToHost(std::string_view bytes) {
  std::lock_guard lock(mu_);
  QueueLocked(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string Simulator::Execute(std::string_view line) {
  std::string error;
  auto command = ParseControlCommand(line, &error);
  if (!command) return error.empty() ? "ok" : "error: " + error;
  return Execute(*command);
}

std::string Simulator::Execute(const ControlCommand& c) {
  using Kind = ControlCommand::Kind;
  {
    std::lock_guard lock(mu_);
    if (stopping_) return "error: simulator stopped";
  }
  switch (c.kind) {
    case Kind::kCover:
      SetCoverOpen(c.flag);
      break;
    case Kind::kPaper:
      SetPaper(c.paper);
      break;
    case Kind::kOffline:
      SetOffline(c.flag);
      break;
    case Kind::kError:
      SetFault(c.fault);
      break;
    case Kind::kCartridge:
      SetCartridge(c.second_cartridge, c.cartridge);
      break;
    case Kind::kCleaning:
      SetHeadCleaning(c.flag);
      break;
    case Kind::kSilent:
      SetSilent(c.flag);
      break;
    case Kind::kPause:
      SetPaused(c.flag);
      break;
    case Kind::kBaud:
      SetBaud(c.number);
      break;
    case Kind::kSend:
      SendToHost(c.bytes);
      break;
    case Kind::kStatus: {
      std::lock_guard lock(mu_);
      std::string line = "ok " + DescribeStatus(state_) + " silent=" + (silent_ ? "on" : "off") +
                         " paused=" + (paused_ ? "on" : "off") + " baud=" + std::to_string(baud_);
      if (!options_.tcp_address.empty()) {
        line += std::string(" refusing=") + (net_refusing_ ? "on" : "off") +
                " stalled=" + (net_stalled_ ? "on" : "off") +
                " connections=" + std::to_string(connections_);
      }
      return line;
    }
    case Kind::kNetRefuse:
    case Kind::kNetDrop:
    case Kind::kNetStall: {
      const bool done = c.kind == Kind::kNetRefuse ? SetNetRefusing(c.flag)
                        : c.kind == Kind::kNetDrop ? DropConnection(c.flag)
                                                   : SetNetStalled(c.flag);
      if (!done) return "error: not listening on TCP (start with --tcp)";
      break;
    }
    case Kind::kSleep:
      if (!SleepFor(std::chrono::milliseconds(c.number))) return "error: simulator stopped";
      break;
    case Kind::kQuit: {
      {
        std::lock_guard lock(mu_);
        quit_ = true;
      }
      cv_.notify_all();
      if (options_.on_quit) options_.on_quit();
      break;
    }
  }
  return "ok";
}

bool Simulator::SleepFor(std::chrono::milliseconds duration) {
  std::unique_lock lock(mu_);
  return !cv_.wait_for(lock, duration, [this] { return stopping_; });
}

bool Simulator::QuitRequested() const {
  std::lock_guard lock(mu_);
  return quit_;
}

void Simulator::RunScenario(std::vector<ScenarioStep> steps) {
  std::lock_guard stop_lock(stop_mu_);
  if (stopped_) return;
  uint64_t generation;
  {
    std::lock_guard lock(mu_);
    if (stopping_) return;
    generation = ++scenario_generation_;
  }
  cv_.notify_all();
  if (scenario_thread_.joinable()) scenario_thread_.join();
  scenario_thread_ = std::thread([this, s = std::move(steps), generation]() mutable {
    ScenarioLoop(std::move(s), generation);
  });
}

void Simulator::ScenarioLoop(std::vector<ScenarioStep> steps, uint64_t generation) {
  const auto start = Clock::now();
  auto ended = [&] { return stopping_ || scenario_generation_ != generation; };
  for (const auto& step : steps) {
    {
      std::unique_lock lock(mu_);
      if (step.at && cv_.wait_until(lock, start + *step.at, ended)) return;
      if (ended()) return;
    }
    std::string reply;
    if (step.command.kind == ControlCommand::Kind::kSleep) {
      std::unique_lock lock(mu_);
      if (cv_.wait_for(lock, std::chrono::milliseconds(step.command.number), ended)) return;
      continue;
    }
    reply = Execute(step.command);
    if (reply.rfind("error", 0) == 0) {
      std::fprintf(stderr, "qz381-sim: scenario line %d: %s\n", step.line, reply.c_str());
    }
  }
}

}  // namespace qz381::sim
