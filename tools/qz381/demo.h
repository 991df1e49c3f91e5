#pragma once
// `qz381 demo --out DIR`: the whole stack end to end. It installs the service
// into DIR (its own registry file, whatever QZ381_REGISTRY said), starts the
// virtual printer on a pseudo-terminal, prints a sample receipt through the
// control object, the service object, Vexlink and com, and writes the printer's
// decoded journal to DIR/journal.txt.
#include <iosfwd>
#include <string>

#include "tools/qz381/locate.h"

namespace qz381::tool {

// The modules and installation files come from `sources` (an installation or
// a build tree). Answers 0 when the receipt printed (every call succeeded and
// the cut reached the printer), 1 otherwise; progress goes to `out`, problems
// to `err`.
int RunDemo(const std::string& out_dir, const Installation& sources, std::ostream& out,
            std::ostream& err);

}  // namespace qz381::tool
