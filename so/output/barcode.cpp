#include "so/output/barcode.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "common/opos.h"

namespace qz381::output {
namespace {

using opos::OPOS_E_ILLEGAL;
using opos::OPOS_SUCCESS;

// PTR_BCS_* symbologies.
constexpr int32_t kUpcA = 101, kUpcE = 102, kEan8 = 103, kEan13 = 104, kItf = 106, kCodabar = 107,
                  kCode39 = 108, kCode93 = 109, kCode128 = 110, kPdf417 = 201, kMaxiCode = 202,
                  kQrCode = 501;
// Later UnifiedPOS releases name the QR code PTR_BCS_QRCODE; applications
// written against them ask for it by that number.
constexpr int32_t kQrCodeNamed = 204;

constexpr double kDotsPerMm = 7.092198581560284;  // 0.141 mm a dot

// Narrow and wide element widths in millimetres for module widths 2 ... 6.
struct Elements {
  double narrow, wide;
};
constexpr Elements kElements[] = {
    {0.282, 0.706}, {0.423, 1.129}, {0.564, 1.411}, {0.706, 1.834}, {0.847, 2.258}};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsUpper(char c) {
  return c >= 'A' && c <= 'Z';
}
bool AllDigits(const std::string& s) {
  return std::all_of(s.begin(), s.end(), IsDigit);
}
bool AllSevenBit(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; });
}
bool IsCode39(char c) {
  return IsUpper(c) || IsDigit(c) || std::string_view(" $%+-./").find(c) != std::string::npos;
}

// Codabar: the first character an uppercase letter; then digits, A-D, $ and
// - (each counted into `narrow`) and + . / :.
bool CodabarAccepts(const std::string& data, size_t* narrow) {
  if (data.empty() || !IsUpper(data[0])) return false;
  *narrow = 0;
  for (size_t i = 1; i < data.size(); ++i) {
    const char c = data[i];
    if (IsDigit(c) || (c >= 'A' && c <= 'D') || c == '$' || c == '-') {
      ++*narrow;
    } else if (std::string_view("+./:").find(c) == std::string::npos) {
      return false;
    }
  }
  return true;
}

// The symbol's width in dots at module width n (2 ... 6).
int64_t SymbolWidth(int32_t symbology, int n, int64_t length, int64_t narrow_count) {
  const Elements& e = kElements[n - 2];
  const double narrow = e.narrow, wide = e.wide;
  switch (symbology) {
    case kUpcA:
    case kEan8:
    case kEan13:
      return n * (7 * length + 29);
    case kUpcE:
      return n * (7 * (length / 2) + 29);
    case kItf:
      return static_cast<int64_t>(
                 std::floor(((2 * wide + 3 * narrow) * length + 6 * narrow + wide) * kDotsPerMm)) +
             18;
    case kCodabar:
      return static_cast<int64_t>(std::floor(((length - narrow_count) * (3 * wide + 4 * narrow) +
                                              narrow_count * (2 * wide + 5 * narrow)) *
                                             kDotsPerMm));
    case kCode39:
      return static_cast<int64_t>(std::floor((length + 1) * (6 * narrow + 3 * wide) * kDotsPerMm));
    case kCode93:
      return n * (9 * length + 37);
    default:  // Code 128
      return n * (11 * length + 35);
  }
}

// GS k m for each linear symbology.
uint8_t LinearM(int32_t symbology) {
  switch (symbology) {
    case kUpcA:
      return 0x41;
    case kUpcE:
      return 0x42;
    case kEan8:
      return 0x44;
    case kEan13:
      return 0x43;
    case kItf:
      return 0x46;
    case kCodabar:
      return 0x47;
    case kCode39:
      return 0x45;
    case kCode93:
      return 0x48;
    case kCode128:
      return 0x49;
    default:
      return 0;
  }
}

// Whether the printer takes `data` in `symbology`; counts Codabar's narrow
// characters.
bool LinearAccepts(int32_t symbology, const std::string& data, size_t* narrow) {
  const size_t n = data.size();
  switch (symbology) {
    case kUpcA:
      return n >= 11 && n <= 12 && AllDigits(data);
    case kUpcE:
      return n >= 11 && n <= 12 && AllDigits(data) && data[0] == '0';
    case kEan8:
      return n >= 7 && n <= 8 && AllDigits(data);
    case kEan13:
      return n >= 12 && n <= 13 && AllDigits(data);
    case kItf:
      return n % 2 == 0 && AllDigits(data);
    case kCodabar:
      return CodabarAccepts(data, narrow);
    case kCode39:
      return std::all_of(data.begin(), data.end(), IsCode39);
    case kCode93:
      return AllSevenBit(data);
    case kCode128:
      return n >= 2 && AllSevenBit(data);
    default:
      return false;
  }
}

void AppendStore(std::string* out, char cn, const std::string& data) {
  const size_t length = data.size() + 3;
  *out += std::string("\x1D\x28\x6B", 3) + static_cast<char>(length & 0xFF) +
          static_cast<char>(length >> 8) + cn + "\x50\x30" + data;
}

}  // namespace

int ModuleWidthFor(int32_t symbology, size_t length, size_t narrow_count, int32_t width) {
  const int widest = symbology == kCode39 ? 4 : 6;
  int chosen = 2;
  for (int n = 2; n <= widest; ++n) {
    if (SymbolWidth(symbology, n, static_cast<int64_t>(length),
                    static_cast<int64_t>(narrow_count)) > width) {
      break;
    }
    chosen = n;
  }
  return chosen;
}

int32_t EncodeBarcode(const BarcodeRequest& request, std::string* out) {
  out->clear();
  const std::string& data = request.data;
  // A symbol without data would print nothing while reporting success.
  if (data.empty()) return OPOS_E_ILLEGAL;
  const char a = request.alignment == -3 ? 2 : request.alignment == -2 ? 1 : 0;
  const char h = request.text_position == -13 ? 2 : request.text_position == -12 ? 1 : 0;
  const char f = request.compressed_font ? 1 : 0;
  std::string bytes = std::string("\x00\x00\x1B\x61", 4) + a + "\x1D\x48" + h + "\x1D\x66" + f;

  switch (request.symbology) {
    case kPdf417:
      if (data.size() > 0xFFFF - 3) return OPOS_E_ILLEGAL;  // the length field holds no more
      bytes += std::string("\x1D\x28\x6B\x03\x00\x30\x41\x00", 8);  // columns automatic
      bytes += std::string("\x1D\x28\x6B\x03\x00\x30\x42\x00", 8);  // rows automatic
      bytes += std::string("\x1D\x28\x6B\x03\x00\x30\x43\x03", 8);  // module width 3
      bytes += std::string("\x1D\x28\x6B\x03\x00\x30\x44\x03", 8);  // row height 3
      AppendStore(&bytes, '\x30', data);
      bytes += std::string("\x1D\x28\x6B\x03\x00\x30\x51\x30", 8);  // print
      *out = std::move(bytes);
      return OPOS_SUCCESS;
    case kQrCode:
    case kQrCodeNamed:
      if (data.size() > 0xFFFF - 3) return OPOS_E_ILLEGAL;
      bytes += std::string("\x1D\x28\x6B\x04\x00\x31\x41\x32\x00", 9);  // model 2
      bytes += std::string("\x1D\x28\x6B\x03\x00\x31\x43\x03", 8);      // module size 3
      AppendStore(&bytes, '\x31', data);
      bytes += std::string("\x1D\x28\x6B\x03\x00\x31\x51\x30", 8);  // print
      *out = std::move(bytes);
      return OPOS_SUCCESS;
    case kMaxiCode:
      return OPOS_E_ILLEGAL;
    default:
      break;
  }

  const uint8_t m = LinearM(request.symbology);
  size_t narrow = 0;
  if (m == 0 || data.size() > 255 || !LinearAccepts(request.symbology, data, &narrow)) {
    return OPOS_E_ILLEGAL;
  }
  const int module = ModuleWidthFor(request.symbology, data.size(), narrow, request.width);
  std::string payload = data;
  if (request.symbology == kCode128 && payload[0] != '{') {
    // Code set A unless the data chooses its own.
    payload.insert(0, "{A");
    if (payload.size() > 255) return OPOS_E_ILLEGAL;  // the count would not fit its byte
  }
  // GS h takes 1 ... 255 dots: a taller request gets the tallest bars, not
  // its height modulo 256; no height (0, or a negative one) sends 0, which
  // leaves the printer's own.
  const int height = request.height <= 0 ? 0 : std::min<int32_t>(request.height, 255);
  bytes += "\x1D\x68";
  bytes += static_cast<char>(height);
  bytes += "\x1D\x77";
  bytes += static_cast<char>(module);
  bytes += "\x1D\x6B";
  bytes += static_cast<char>(m);
  bytes += static_cast<char>(payload.size());
  bytes += payload;
  *out = std::move(bytes);
  return OPOS_SUCCESS;
}

}  // namespace qz381::output
