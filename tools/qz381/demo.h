#pragma once
// `qz381 demo --out DIR`: the whole stack end to end. It installs the service
// into DIR (its own registry file, whatever QZ381_REGISTRY said), starts the
// virtual printer on a pseudo-terminal, prints a sample receipt through the
// control object, the service object, Vexlink and com, and writes the printer's
// decoded journal to DIR/journal.txt.
#include <iosfwd>
#include <string>

namespace qz381::tool {

// The folder that holds the installed modules and installation files beside
// this program: <prefix>/lib/qz381 and <prefix>/share/qz381/install.
struct DemoSources {
  std::string module_dir;
  std::string files_dir;
};

// Answers 0 when the receipt printed (every call succeeded and the cut reached
// the printer), 1 otherwise; progress goes to `out`, problems to `err`.
int RunDemo(const std::string& out_dir, const DemoSources& sources, std::ostream& out,
            std::ostream& err);

}  // namespace qz381::tool
