// qz381: the command-line front end of the printer service.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/dynlib.h"
#include "tools/qz381/commands.h"

namespace {

using qz381::tool::Command;

int Usage(std::ostream& to) {
  to << "usage: qz381 COMMAND [OPTIONS]   (qz381 COMMAND --help for one command)\n\n";
  for (const Command& command : qz381::tool::Commands())
    to << "  " << command.name << std::string(11 - std::strlen(command.name), ' ')
       << command.summary << "\n";
  return 2;
}

std::string ProgramDir() {
  const std::filesystem::path exe =
      qz381::platform::ModulePathOf(reinterpret_cast<const void*>(&ProgramDir));
  return exe.parent_path().string();
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  if (argc < 2) return Usage(std::cerr);
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    Usage(std::cout);
    return 0;
  }
  for (const Command& command : qz381::tool::Commands()) {
    if (name != command.name) continue;
    for (int i = 2; i < argc; ++i) {
      if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
        std::cout << command.help;
        return 0;
      }
    }
    qz381::tool::CommandContext context{ProgramDir(), std::cout, std::cerr};
    const int rc = command.run(argc, argv, context);
    std::cout.flush();
    return rc;
  }
  std::cerr << "qz381: unknown command '" << name << "'\n";
  return Usage(std::cerr);
}
