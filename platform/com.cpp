#include "platform/com.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/codepage.h"

#if !defined(_WIN32)
extern "C" {
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// A BSTR points just past a 32-bit byte count and is followed by a NUL, as
// OLEAUT32 lays it out; length prefixes let BSTRs carry embedded NULs.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > 0x3FFFFFF0u) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(sizeof(uint32_t) + (length + 1) * 2u));
  if (!block) return nullptr;
  uint32_t bytes = length * 2u;
  std::memcpy(block, &bytes, sizeof bytes);
  auto* s = reinterpret_cast<OLECHAR*>(block + sizeof(uint32_t));
  if (text)
    std::memcpy(s, text, length * 2u);
  else
    std::memset(s, 0, length * 2u);
  s[length] = 0;
  return s;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  UINT n = 0;
  while (text[n]) ++n;
  return SysAllocStringLen(text, n);
}

void SysFreeString(BSTR bstr) {
  if (bstr) std::free(reinterpret_cast<unsigned char*>(bstr) - sizeof(uint32_t));
}

UINT SysStringLen(BSTR bstr) {
  if (!bstr) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<unsigned char*>(bstr) - sizeof(uint32_t), sizeof bytes);
  return bytes / 2u;
}

void VariantInit(VARIANT* v) {
  std::memset(v, 0, sizeof *v);
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  switch (v->vt) {
    case VT_BSTR:
      SysFreeString(v->bstrVal);
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (v->punkVal) v->punkVal->Release();
      break;
    default:
      break;
  }
  VariantInit(v);
  return S_OK;
}
}  // extern "C"
#endif

namespace qz381::platform {

std::string GuidToString(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
bool ParseHex(std::string_view s, size_t pos, size_t digits, uint32_t* out) {
  uint32_t v = 0;
  for (size_t i = 0; i < digits; ++i) {
    int d = HexDigit(s[pos + i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  *out = v;
  return true;
}
}  // namespace

bool GuidFromString(std::string_view s, GUID* out) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (s.size() != 38 || s[0] != '{' || s[37] != '}' || s[9] != '-' || s[14] != '-' ||
      s[19] != '-' || s[24] != '-')
    return false;
  GUID g{};
  uint32_t v;
  if (!ParseHex(s, 1, 8, &v)) return false;
  g.Data1 = v;
  if (!ParseHex(s, 10, 4, &v)) return false;
  g.Data2 = static_cast<uint16_t>(v);
  if (!ParseHex(s, 15, 4, &v)) return false;
  g.Data3 = static_cast<uint16_t>(v);
  static constexpr size_t kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ParseHex(s, kBytePos[i], 2, &v)) return false;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  *out = g;
  return true;
}

BSTR AllocBstrFromAnsi(std::string_view ansi) {
  std::u16string wide = AnsiToUtf16(ansi);
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()),
                           static_cast<UINT>(wide.size()));
}

std::u16string Utf16FromBstr(const OLECHAR* bstr) {
  if (!bstr) return {};
  UINT n = SysStringLen(const_cast<BSTR>(bstr));
  return std::u16string(reinterpret_cast<const char16_t*>(bstr), n);
}

std::string AnsiFromBstr(const OLECHAR* bstr) {
  return Utf16ToAnsi(Utf16FromBstr(bstr));
}

}  // namespace qz381::platform
