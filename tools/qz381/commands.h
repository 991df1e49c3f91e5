#pragma once
// The commands of qz381: each parses its own arguments (argv[2] on) and
// answers the program's exit code: 0 on success, 1 when the work failed, 2 for
// a wrong command line. Output goes to `out`, problems to `err`.
#include <iosfwd>
#include <string>
#include <vector>

namespace qz381::tool {

struct CommandContext {
  std::string program_dir;  // where the running qz381 is
  std::ostream& out;
  std::ostream& err;
};

struct Command {
  const char* name;
  const char* summary;  // one line for `qz381 --help`
  const char* help;     // the whole text for `qz381 NAME --help`
  int (*run)(int argc, char** argv, const CommandContext& context);
};

const std::vector<Command>& Commands();

// The command bodies, callable without a program around them (tests).
int PrintCommand(int argc, char** argv, const CommandContext& context);
int RenderCommand(int argc, char** argv, const CommandContext& context);
int StatusCommand(int argc, char** argv, const CommandContext& context);
int DevicesCommand(int argc, char** argv, const CommandContext& context);
int TranslateCommand(int argc, char** argv, const CommandContext& context);

}  // namespace qz381::tool
