// qz381-setup: the setup utility from the command line (see setup/README.md).
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/registry.h"
#include "setup/setup_cli.h"
#include "setup/terminal_health_dialog.h"
#include "setup/usb_devices.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 2 && args[0] == "--registry") {
    // The service object a health check loads reads the process's default
    // registry, so the file named here has to become that registry.
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::absolute(args[1], ec);
    if (!qz381::platform::SetEnvironmentValue("QZ381_REGISTRY", ec ? args[1] : file.string())) {
      std::cerr << "qz381-setup: cannot use " << args[1] << " as the registry\n";
      return 1;
    }
    args.erase(args.begin(), args.begin() + 2);
  }
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << qz381::setup::kSetupUsage;
    return 0;
  }
  qz381::platform::Registry& reg = qz381::platform::DefaultRegistry();
  const bool at_terminal = qz381::platform::StdinIsTerminal();
  // At a keyboard the interactive check asks on the terminal; in a script
  // there is nobody to ask, and it runs as if the dialog was closed unprinted.
  qz381::setup::TerminalHealthDialog terminal_dialog(std::cin, std::cout);
  qz381::co::HealthDialogProvider* dialogs = at_terminal ? &terminal_dialog : nullptr;
  qz381::setup::CliContext context{
      reg,
      std::cout,
      std::cerr,
      std::cin,
      at_terminal,
      [] { return qz381::setup::AttachedUsbPrinters(); },
      [&reg, dialogs] { return qz381::setup::NewControlObject(reg, dialogs); }};
  return qz381::setup::RunSetupCommand(args, context);
}
