#pragma once
// `qz381 status`: claims and enables the device and reports every status event
// as it comes (cover, paper, near end, power), or once the current state.
#include <functional>
#include <optional>
#include <string>

namespace qz381::tool {

struct StatusWatch {
  std::optional<std::string> device;
  bool once = false;
  // Asked a few times a second; watching ends when it answers true.
  std::function<bool()> stop;
  // Receives each line ("12:00:01 cover open") as it is made; any thread.
  std::function<void(const std::string& line)> line;
};

// Answers 0 when the device could be watched to the end, 1 otherwise (`error`
// in words).
int RunStatus(const StatusWatch& watch, std::string* error);

}  // namespace qz381::tool
