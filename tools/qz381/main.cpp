// qz381: the command-line front end of the printer service.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/dynlib.h"
#include "tools/qz381/demo.h"
#include "tools/qz381/script.h"

namespace {

int Usage() {
  std::cerr
      << "usage: qz381 script [FILE]   run one OPOS call per line (standard input without FILE)\n"
         "       qz381 demo --out DIR   print a sample receipt on the virtual printer\n";
  return 2;
}

// Installed, the modules sit in <prefix>/lib/qz381 beside <prefix>/bin/qz381.
qz381::tool::DemoSources FindDemoSources() {
  std::filesystem::path exe =
      qz381::platform::ModulePathOf(reinterpret_cast<const void*>(&FindDemoSources));
  std::filesystem::path prefix = exe.parent_path().parent_path();
  return {(prefix / "lib" / "qz381").string(), (prefix / "share" / "qz381" / "install").string()};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string command = argv[1];
  if (command == "script") {
    if (argc > 3) return Usage();
    if (argc == 3) {
      std::ifstream file(argv[2], std::ios::binary);
      if (!file) {
        std::cerr << "qz381 script: cannot open " << argv[2] << "\n";
        return 2;
      }
      return qz381::tool::RunScript(file, std::cout, std::cerr);
    }
    return qz381::tool::RunScript(std::cin, std::cout, std::cerr);
  }
  if (command == "demo") {
    if (argc != 4 || std::strcmp(argv[2], "--out") != 0) return Usage();
    return qz381::tool::RunDemo(argv[3], FindDemoSources(), std::cout, std::cerr);
  }
  if (command == "--help" || command == "-h" || command == "help") {
    Usage();
    return 0;
  }
  std::cerr << "qz381: unknown command '" << command << "'\n";
  return Usage();
}
