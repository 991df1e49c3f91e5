// The character-set conversion on glibc's iconv, which knows every code page
// the printer's profile lists.
#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <cstdio>

#include "platform/charset.h"

namespace qz381::platform {

namespace {

// The length of the UTF-8 sequence `lead` begins; 1 for a byte that begins none.
size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

}  // namespace

bool Utf8ToCharacterSet(std::string_view utf8, int32_t character_set, std::string* out) {
  char name[16];
  if (character_set == 998)
    std::snprintf(name, sizeof name, "ASCII");
  else if (character_set == 999)
    std::snprintf(name, sizeof name, "CP1252");
  else if (character_set >= 437 && character_set <= 1258)
    std::snprintf(name, sizeof name, "CP%d", static_cast<int>(character_set));
  else
    return false;
  iconv_t cd = iconv_open(name, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;

  std::string result;
  result.resize(utf8.size() + 16);
  size_t used = 0;
  char* in = const_cast<char*>(utf8.data());
  size_t in_left = utf8.size();
  while (in_left > 0) {
    char* to = result.data() + used;
    size_t to_left = result.size() - used;
    const size_t rc = iconv(cd, &in, &in_left, &to, &to_left);
    used = result.size() - to_left;
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      result.resize(result.size() * 2);
      continue;
    }
    // EILSEQ: no form in the set, or not UTF-8; EINVAL: cut off at the end.
    // Either way one '?' stands for the sequence and the rest goes on.
    if (used == result.size()) result.resize(result.size() * 2);
    result[used++] = '?';
    const size_t length = std::min(in_left, SequenceLength(static_cast<unsigned char>(*in)));
    size_t skip = 1;
    while (skip < length && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) ++skip;
    in += skip;
    in_left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  result.resize(used);
  *out = std::move(result);
  return true;
}

}  // namespace qz381::platform
