#pragma once
// The operator's commands, one per line, as they arrive on the control socket,
// on standard input and in scenario files:
//   cover open|close            paper ok|near|end           offline | online
//   error none|cutter|mechanical|unrecoverable
//   cartridge [primary|second] ok|near|empty|removed        cleaning on|off
//   silent on|off               pause on|off                baud N (0: no limit)
//   send HEX...                 status                      sleep MS       quit
//   net refuse on|off           net drop | net reset        net stall on|off
// (the net commands only on a simulator listening on TCP: refuse connections,
// end the host's connection in order or with a reset, stop reading it).
// Blank lines and lines beginning with '#' are no commands.
#include <chrono>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/sim/printer_state.h"

namespace qz381::sim {

struct ControlCommand {
  enum class Kind {
    kCover,      // flag: open
    kPaper,      // paper
    kOffline,    // flag: off-line
    kError,      // fault
    kCartridge,  // second_cartridge, cartridge
    kCleaning,   // flag
    kSilent,     // flag
    kPause,      // flag
    kBaud,       // number
    kSend,       // bytes
    kStatus,
    kSleep,  // number (ms)
    kQuit,
    kNetRefuse,  // flag: refuse
    kNetDrop,    // flag: with a reset
    kNetStall,   // flag: stalled
  };
  Kind kind = Kind::kStatus;
  bool flag = false;
  Paper paper = Paper::kOk;
  Fault fault = Fault::kNone;
  bool second_cartridge = false;
  Cartridge cartridge = Cartridge::kOk;
  uint32_t number = 0;
  std::string bytes;
};

// nullopt with `error` empty for a blank or comment line; nullopt with a
// message for a line that is no command.
std::optional<ControlCommand> ParseControlCommand(std::string_view line, std::string* error);

// A scenario line: `at MS command` (MS after the scenario started), `sleep MS`,
// or a command run as soon as the one before it has.
struct ScenarioStep {
  std::optional<std::chrono::milliseconds> at;
  ControlCommand command;
  int line = 0;
};

// Reads the whole scenario first, so that a mistake on line 40 is reported
// before line 1 has changed anything. `error` names the line.
bool ParseScenario(std::istream& in, std::vector<ScenarioStep>* steps, std::string* error);

}  // namespace qz381::sim
