// Where the virtual printer's renderer is not built, there is nothing to draw
// receipts with; the command says so.
#include "tools/qz381/render_cmd.h"

namespace qz381::tool {

bool RenderReceipts(std::string_view, const std::string&, bool, std::ostream&, RenderResult*,
                    std::string* error) {
  *error = "the receipt renderer is not part of this build; render on Linux";
  return false;
}

}  // namespace qz381::tool
