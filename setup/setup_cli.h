#pragma once
// qz381-setup: the setup utility's commands for scripts and support staff,
// each writing exactly what the matching dialog writes.
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "setup/device_settings.h"
#include "setup/health_check.h"

namespace qz381::setup {

struct CliContext {
  platform::Registry& reg;
  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  bool interactive = false;  // stdin is a terminal: remove asks first
  UsbEnumerator usb;
  std::function<std::unique_ptr<ControlObject>()> control_object;
};

// Exit codes: 0 done, 1 refused or failed (the reason on err), 2 bad usage.
int RunSetupCommand(const std::vector<std::string>& args, CliContext& context);

extern const char* const kSetupUsage;

}  // namespace qz381::setup
