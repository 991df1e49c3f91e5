// Where the virtual printer is not built (it drives a pseudo-terminal), the
// demo has nothing to print on; the command says so instead.
#include <ostream>

#include "tools/qz381/demo.h"

namespace qz381::tool {

int RunDemo(const std::string&, const Installation&, std::ostream&, std::ostream& err) {
  err << "qz381 demo: the virtual printer is not part of this build; run the demo on Linux\n";
  return 2;
}

}  // namespace qz381::tool
