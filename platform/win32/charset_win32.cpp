// The character-set conversion on Windows' own code pages: UTF-8 to UTF-16 to
// the printer's code page. Invalid UTF-8 becomes U+FFFD on the way, and no
// "best fit" look-alikes are taken (an e for an é), so what the set has no
// form for becomes '?', as on POSIX.
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/charset.h"

namespace qz381::platform {

namespace {

// Code page 858 is 850 with the euro sign where 850 has the dotless i. Not
// every Windows (nor Wine) has it; then it is made from 850.
constexpr UINT kEuroPage = 858;
constexpr UINT kEuroBase = 850;
constexpr char kEuroByte = '\xD5';

std::string FromWide(UINT code_page, const std::wstring& wide) {
  if (wide.empty()) return {};
  const int length = static_cast<int>(wide.size());
  const int size = ::WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.data(), length,
                                         nullptr, 0, "?", nullptr);
  std::string bytes(static_cast<size_t>(std::max(size, 0)), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.data(), length, bytes.data(), size,
                          "?", nullptr);
  }
  return bytes;
}

std::string EuroPageFromBase(const std::wstring& wide) {
  std::string bytes;
  std::wstring run;
  for (wchar_t c : wide) {
    if (c != L'\u20AC' && c != L'\u0131') {
      run.push_back(c);
      continue;
    }
    bytes += FromWide(kEuroBase, run);
    run.clear();
    bytes.push_back(c == L'\u20AC' ? kEuroByte : '?');
  }
  return bytes + FromWide(kEuroBase, run);
}

}  // namespace

bool Utf8ToCharacterSet(std::string_view utf8, int32_t character_set, std::string* out) {
  UINT code_page = 0;
  if (character_set == 998) {
    code_page = 20127;  // US-ASCII
  } else if (character_set == 999) {
    code_page = 1252;
  } else if (character_set >= 437 && character_set <= 1258) {
    code_page = static_cast<UINT>(character_set);
  }
  const bool euro_from_base =
      code_page == kEuroPage && !::IsValidCodePage(kEuroPage) && ::IsValidCodePage(kEuroBase);
  if (code_page == 0 || (!euro_from_base && !::IsValidCodePage(code_page))) return false;
  std::wstring wide;
  if (!utf8.empty()) {
    const int in_size = static_cast<int>(std::min<size_t>(utf8.size(), 0x3FFFFFFF));
    const int wide_size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), in_size, nullptr, 0);
    if (wide_size <= 0) return false;
    wide.resize(static_cast<size_t>(wide_size));
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), in_size, wide.data(), wide_size);
  }
  *out = euro_from_base ? EuroPageFromBase(wide) : FromWide(code_page, wide);
  return true;
}

}  // namespace qz381::platform
