// The registry file parser over arbitrary bytes: it must never crash or read out
// of bounds, and whatever it accepts must write out as a file that reads back to
// the same registry.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/registry_file.h"

using qz381::platform::FormatRegFile;
using qz381::platform::ParseRegFile;
using qz381::platform::RegTree;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  RegTree tree;
  if (!ParseRegFile(bytes, "fuzz.reg", &tree).ok()) return 0;

  const std::string written = FormatRegFile(tree);
  RegTree reread;
  if (!ParseRegFile(written, "written.reg", &reread).ok()) std::abort();
  if (FormatRegFile(reread) != written) std::abort();
  return 0;
}
