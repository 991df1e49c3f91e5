#pragma once
// The picture loader's PNG decoder, which each platform backend provides
// (libpng on POSIX, the Windows Imaging Component on Windows); BMP is the
// portable decoder's everywhere.
#include <string>

#include "platform/picture.h"

namespace qz381::platform {

// kMalformed for bytes that are no PNG this decoder reads, or too large.
Status DecodePng(const std::string& bytes, Picture* out);

}  // namespace qz381::platform
