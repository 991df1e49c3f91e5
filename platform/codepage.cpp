#include "platform/codepage.h"

#include <cstdint>

namespace qz381::platform {
namespace {

// Windows-1252 0x80-0x9F. The five bytes the code page leaves undefined map to the
// C1 control of the same number, as MultiByteToWideChar does on Windows: every
// ANSI byte then survives a round trip through Unicode (registry values written
// as UTF-16 hex and read back, for example).
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

char32_t AnsiToCodePoint(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
  return byte;
}

char CodePointToAnsi(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    // Nothing in Windows-1252 lies beyond the Basic Multilingual Plane.
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::string Utf8ToAnsi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i++]);
    if (lead < 0x80) {
      out.push_back(static_cast<char>(lead));
      continue;
    }
    // Bounds on the first continuation byte reject overlong forms, surrogates and
    // code points past U+10FFFF. A broken sequence becomes a single '?' covering
    // the bytes that were still plausible, the way browsers' decoders count it.
    int need = 0;
    char32_t cp = 0;
    unsigned char lower = 0x80, upper = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      need = 1;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      need = 2;
      cp = lead & 0x0F;
      if (lead == 0xE0) lower = 0xA0;
      if (lead == 0xED) upper = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      need = 3;
      cp = lead & 0x07;
      if (lead == 0xF0) lower = 0x90;
      if (lead == 0xF4) upper = 0x8F;
    } else {
      out.push_back('?');
      continue;
    }
    bool complete = true;
    for (; need > 0; --need) {
      if (i >= utf8.size()) {
        complete = false;
        break;
      }
      const auto next = static_cast<unsigned char>(utf8[i]);
      if (next < lower || next > upper) {
        complete = false;
        break;
      }
      cp = (cp << 6) | (next & 0x3F);
      lower = 0x80;
      upper = 0xBF;
      ++i;
    }
    out.push_back(complete ? CodePointToAnsi(cp) : '?');
  }
  return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size());
  for (char c : ansi) AppendUtf8(AnsiToCodePoint(static_cast<unsigned char>(c)), &out);
  return out;
}

std::u16string AnsiToUtf16(std::string_view ansi) {
  std::u16string out;
  out.reserve(ansi.size());
  for (char c : ansi)
    out.push_back(static_cast<char16_t>(AnsiToCodePoint(static_cast<unsigned char>(c))));
  return out;
}

std::string Utf16ToAnsi(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    const char16_t unit = utf16[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      ++i;  // a pair is one character, and none beyond the BMP has an ANSI form
      out.push_back('?');
    } else {
      out.push_back(CodePointToAnsi(unit >= 0xD800 && unit <= 0xDFFF ? U'?' : unit));
    }
  }
  return out;
}

}  // namespace qz381::platform
