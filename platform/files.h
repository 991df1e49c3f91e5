#pragma once
// Small file operations the components need, with the platform's error shape.
#include <string>

#include "platform/status.h"

namespace qz381::platform {

Status ReadWholeFile(const std::string& path, std::string* out);
// Writes a temporary file beside `path`, flushes it, then renames it over `path`:
// a reader sees the old or the new file, never half of one.
Status WriteFileAtomically(const std::string& path, const std::string& contents);
bool FileExists(const std::string& path);
Status CopyFileTo(const std::string& from, const std::string& to);
Status MakeDirectories(const std::string& path);

}  // namespace qz381::platform
