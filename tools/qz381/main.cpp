// qz381: the command-line front end of the printer service.
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "tools/qz381/script.h"

namespace {

int Usage() {
  std::cerr
      << "usage: qz381 script [FILE]   run one OPOS call per line (standard input without FILE)\n";
  return 2;
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
  if (command == "--help" || command == "-h" || command == "help") {
    Usage();
    return 0;
  }
  std::cerr << "qz381: unknown command '" << command << "'\n";
  return Usage();
}
