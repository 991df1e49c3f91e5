#include "platform/files.h"

namespace qz381::platform {

// Whole files only (installation files, profiles): a copy that is replaced
// atomically like every other write.
Status CopyFileTo(const std::string& from, const std::string& to) {
  std::string contents;
  Status status = ReadWholeFile(from, &contents);
  if (!status.ok()) return status;
  return WriteFileAtomically(to, contents);
}

}  // namespace qz381::platform
