#pragma once
// `qz381 render`: printer bytes (from `qz381 translate`, a capture or the
// virtual printer's raw.bin) drawn as the virtual printer draws them, one PNG
// receipt per cut: DIR/receipt-001.png, receipt-002.png, ...
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace qz381::tool {

struct RenderResult {
  std::vector<std::string> files;  // the PNGs written, in order
  int not_drawn = 0;               // lines the renderer reported (clipped, unsupported ...)
};

// Draws `bytes` into `out_dir` (created when missing). What follows the last
// cut is a receipt of its own when anything was printed after it. Every
// renderer report goes to `err` as a line. False with `error` set when a file
// or the folder cannot be written.
bool RenderReceipts(std::string_view bytes, const std::string& out_dir, bool two_colour,
                    std::ostream& err, RenderResult* result, std::string* error);

}  // namespace qz381::tool
